#include "app/win/ExceptionLogger.h"

#include <dbghelp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "app/core/AppExceptions.h"
#include "app/win/Application.h"
#include "common/core/LogRules.h"
#include "common/core/PathRules.h"
#include "common/core/TextUtil.h"
#include "common/win/CallbackGuard.h"
#include "common/win/Handles.h"
#include "common/win/KCL_Clock.h"
#include "common/win/MessageBoxSeam.h"

namespace kav {

namespace {

constexpr DWORD KStatusHeapCorruption = 0xC0000374;
constexpr int KAddressDigits = static_cast<int>(sizeof(void*) * 2);

std::mutex& LogMutex() {
  static std::mutex m;
  return m;
}
std::wstring& LogPath() {
  static std::wstring path;
  return path;
}
std::atomic<TExceptionLogger::TFatalExit> GFatalExit{nullptr};

// "module.exe+0x1234" for an address, or just the address when no module holds it.
std::wstring DescribeAddress(uint64_t Address) {
  HMODULE module = nullptr;
  std::wstring text = HexText(Address, KAddressDigits);
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(Address)), &module) &&
      module) {
    wchar_t path[MAX_PATH];
    const DWORD len = GetModuleFileNameW(module, path, MAX_PATH);
    if (len > 0 && len < MAX_PATH) {
      wchar_t off[32];
      std::swprintf(off, 32, L"+0x%llX",
                    static_cast<unsigned long long>(Address - reinterpret_cast<uintptr_t>(module)));
      text += L" (" + ExtractFileName(std::wstring(path, len)) + off + L")";
    }
  }
  return text;
}

std::wstring ModuleNameOf(uint64_t Address) {
  HMODULE module = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(Address)), &module) &&
      module) {
    wchar_t path[MAX_PATH];
    const DWORD len = GetModuleFileNameW(module, path, MAX_PATH);
    if (len > 0 && len < MAX_PATH) return ExtractFileName(std::wstring(path, len));
  }
  return L"?";
}

bool InOwnImage(const void* Address) {
  const auto base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto* p = static_cast<const BYTE*>(Address);
  return p >= base && p < base + nt->OptionalHeader.SizeOfImage;
}

// Creates the folders of Path one by one (the data folder normally exists).
void CreateFolderChain(const std::wstring& Folder) {
  for (size_t pos = Folder.find(L'\\', 3); pos != std::wstring::npos; pos = Folder.find(L'\\', pos + 1))
    CreateDirectoryW(Folder.substr(0, pos).c_str(), nullptr);
}

void AppendRecord(const std::wstring& Record) noexcept {
  try {
    std::lock_guard<std::mutex> lock(LogMutex());
    const std::wstring path = LogPath();
    if (path.empty()) return;
    CreateFolderChain(ExtractFileDirWithDelimiter(path));
    const TKernelHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string bytes = ToUtf8(Record);
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  } catch (...) {
    // Nothing is left to report a failing error log to.
  }
}

std::wstring StackText(const std::vector<uint64_t>& Frames) {
  std::wstring text = L"  Call stack:\r\n";
  int n = 0;
  for (uint64_t frame : Frames) text += L"    #" + std::to_wstring(n++) + L" " + DescribeAddress(frame) + L"\r\n";
  if (Frames.empty()) text += L"    (none)\r\n";
  return text;
}

// Return addresses of the calling thread from here upward.
std::vector<uint64_t> CurrentStack() {
  void* frames[62];
  const USHORT count = RtlCaptureStackBackTrace(1, 62, frames, nullptr);
  std::vector<uint64_t> result;
  for (USHORT i = 0; i < count; ++i) result.push_back(reinterpret_cast<uintptr_t>(frames[i]));
  return result;
}

// The faulting thread's stack from the fault's context, walked with the
// system's dbghelp (loaded from the system folder only, when it is needed).
std::vector<uint64_t> FaultStack(const CONTEXT& Context) {
  std::vector<uint64_t> result;
  HMODULE dbghelp = LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!dbghelp) {
    // Windows 7 without KB2533623 knows no search flags: name the system folder.
    wchar_t system[MAX_PATH];
    const UINT len = GetSystemDirectoryW(system, MAX_PATH);
    if (len > 0 && len < MAX_PATH) dbghelp = LoadLibraryW((std::wstring(system, len) + L"\\dbghelp.dll").c_str());
  }
  if (!dbghelp) return result;
  using TSymInitialize = BOOL(WINAPI*)(HANDLE, PCSTR, BOOL);
  using TStackWalk64 = BOOL(WINAPI*)(DWORD, HANDLE, HANDLE, LPSTACKFRAME64, PVOID, PREAD_PROCESS_MEMORY_ROUTINE64,
                                     PFUNCTION_TABLE_ACCESS_ROUTINE64, PGET_MODULE_BASE_ROUTINE64,
                                     PTRANSLATE_ADDRESS_ROUTINE64);
  auto proc = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(dbghelp, name)); };
  auto symInitialize = reinterpret_cast<TSymInitialize>(proc("SymInitialize"));
  auto stackWalk = reinterpret_cast<TStackWalk64>(proc("StackWalk64"));
  auto tableAccess = reinterpret_cast<PFUNCTION_TABLE_ACCESS_ROUTINE64>(proc("SymFunctionTableAccess64"));
  auto moduleBase = reinterpret_cast<PGET_MODULE_BASE_ROUTINE64>(proc("SymGetModuleBase64"));
  if (!symInitialize || !stackWalk || !tableAccess || !moduleBase) return result;

  HANDLE process = GetCurrentProcess();
  HANDLE thread = GetCurrentThread();
  symInitialize(process, nullptr, TRUE);
  CONTEXT context = Context;
  STACKFRAME64 frame{};
  DWORD machine = 0;
#if defined(_M_X64) || defined(__x86_64__)
  machine = IMAGE_FILE_MACHINE_AMD64;
  frame.AddrPC.Offset = context.Rip;
  frame.AddrFrame.Offset = context.Rbp;
  frame.AddrStack.Offset = context.Rsp;
#elif defined(_M_IX86) || defined(__i386__)
  machine = IMAGE_FILE_MACHINE_I386;
  frame.AddrPC.Offset = context.Eip;
  frame.AddrFrame.Offset = context.Ebp;
  frame.AddrStack.Offset = context.Esp;
#else
  return result;
#endif
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrFrame.Mode = AddrModeFlat;
  frame.AddrStack.Mode = AddrModeFlat;
  for (int i = 0; i < 64; ++i) {
    if (!stackWalk(machine, process, thread, &frame, &context, nullptr, tableAccess, moduleBase, nullptr)) break;
    if (frame.AddrPC.Offset == 0) break;
    result.push_back(frame.AddrPC.Offset);
  }
  return result;
}

std::wstring TimeStamp() {
  // FormatLogLine gives "yyyy/mm/dd hh:mm:ss:zzz " + text + CR LF.
  std::wstring line = FormatLogLine(ReadLocalTime(), L"");
  while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
  return line;
}

std::wstring FaultName(DWORD Code) {
  switch (Code) {
  case EXCEPTION_ACCESS_VIOLATION: return L"EXCEPTION_ACCESS_VIOLATION";
  case KStatusHeapCorruption: return L"STATUS_HEAP_CORRUPTION";
  case EXCEPTION_STACK_OVERFLOW: return L"EXCEPTION_STACK_OVERFLOW";
  case EXCEPTION_ILLEGAL_INSTRUCTION: return L"EXCEPTION_ILLEGAL_INSTRUCTION";
  case EXCEPTION_INT_DIVIDE_BY_ZERO: return L"EXCEPTION_INT_DIVIDE_BY_ZERO";
  case EXCEPTION_PRIV_INSTRUCTION: return L"EXCEPTION_PRIV_INSTRUCTION";
  case EXCEPTION_IN_PAGE_ERROR: return L"EXCEPTION_IN_PAGE_ERROR";
  default: return L"EXCEPTION";
  }
}

// The text shown to the user for a fault.
std::wstring FaultText(const EXCEPTION_RECORD& Record) {
  const auto address = reinterpret_cast<uintptr_t>(Record.ExceptionAddress);
  if (Record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && Record.NumberParameters >= 2)
    return AccessViolationText(ModuleNameOf(address), address, Record.ExceptionInformation[1],
                               static_cast<int>(Record.ExceptionInformation[0]), KAddressDigits);
  if (Record.ExceptionCode == KStatusHeapCorruption) return InvalidPointerText;
  return L"モジュール '" + ModuleNameOf(address) + L"' のアドレス " + HexText(address, KAddressDigits) + L" で例外 " +
         HexText(Record.ExceptionCode, 8) + L" が発生しました";
}

LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS* Fault) {
  const DWORD code = Fault->ExceptionRecord->ExceptionCode;
  // Only faults of the program's own code: the system and Wine use
  // first-chance access violations on purpose and handle them themselves.
  if ((code == EXCEPTION_ACCESS_VIOLATION || code == KStatusHeapCorruption) &&
      InOwnImage(Fault->ExceptionRecord->ExceptionAddress))
    TExceptionLogger::ReportFatal(*Fault);
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* Fault) {
  TExceptionLogger::ReportFatal(*Fault);
}

void TerminateHandler() {
  TExceptionLogger::LogException(std::current_exception(), L"std::terminate");
  std::abort();
}

} // namespace

void TExceptionLogger::Install() {
  static std::once_flag once;
  std::call_once(once, [] {
    AddVectoredExceptionHandler(1, &VectoredHandler);
    SetUnhandledExceptionFilter(&UnhandledFilter);
    std::set_terminate(&TerminateHandler);
  });
}

void TExceptionLogger::SetLogFile(const std::wstring& Path) {
  std::lock_guard<std::mutex> lock(LogMutex());
  LogPath() = Path;
}

std::wstring TExceptionLogger::LogFile() {
  std::lock_guard<std::mutex> lock(LogMutex());
  return LogPath();
}

bool TExceptionLogger::Crashing() noexcept { return CallbacksSuspended(); }

void TExceptionLogger::SetFatalExit(TFatalExit Exit) noexcept { GFatalExit.store(Exit); }

void TExceptionLogger::LogException(const std::exception_ptr& E, const std::wstring& Location) noexcept {
  try {
    std::wstring record = TimeStamp() + L"Unhandled exception\r\n";
    record += L"  Class: " + FromUtf8(E ? ExceptionClassName(E) : std::string("(none)")) + L"\r\n";
    record += L"  Location: " + Location + L"\r\n";
    record += L"  Message: " + (E ? ExceptionMessage(E) : std::wstring()) + L"\r\n";
    record += StackText(CurrentStack());
    AppendRecord(record);
  } catch (...) {
  }
}

std::wstring TExceptionLogger::LogFault(const EXCEPTION_POINTERS& Fault) noexcept {
  std::wstring text;
  try {
    const EXCEPTION_RECORD& rec = *Fault.ExceptionRecord;
    text = FaultText(rec);
    std::wstring record = TimeStamp() + L"Fatal fault\r\n";
    record += L"  Code: " + FaultName(rec.ExceptionCode) + L" (" + HexText(rec.ExceptionCode, 8) + L")\r\n";
    record += L"  Address: " + DescribeAddress(reinterpret_cast<uintptr_t>(rec.ExceptionAddress)) + L"\r\n";
    record += L"  Thread: " + std::to_wstring(GetCurrentThreadId()) + L"\r\n";
    record += L"  Message: " + text + L"\r\n";
    record += StackText(Fault.ContextRecord ? FaultStack(*Fault.ContextRecord) : std::vector<uint64_t>{});
    AppendRecord(record);
  } catch (...) {
  }
  return text;
}

void TExceptionLogger::ReportFatal(const EXCEPTION_POINTERS& Fault) noexcept {
  const DWORD code = Fault.ExceptionRecord->ExceptionCode;
  // A fault while reporting a fault: leave at once.
  if (SuspendCallbacks()) TerminateProcess(GetCurrentProcess(), code);
  const std::wstring text = LogFault(Fault);
  try {
    const std::exception_ptr shown = code == KStatusHeapCorruption
                                         ? std::make_exception_ptr(EInvalidPointer(text))
                                         : std::make_exception_ptr(EAccessViolation(text));
    if (TApplication* app = Application())
      app->ShowException(shown);
    else
      ShowMessageBox(nullptr, AppendFullStop(text), L"", MB_OK | MB_ICONERROR);
  } catch (...) {
  }
  if (auto exitFn = GFatalExit.load()) exitFn(code);
  TerminateProcess(GetCurrentProcess(), code);
  for (;;) Sleep(INFINITE);
}

} // namespace kav
