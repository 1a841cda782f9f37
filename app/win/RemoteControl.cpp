#include "app/win/RemoteControl.h"

#include <optional>

#include "app/win/SingleInstance.h"
#include "common/core/PathRules.h"
#include "common/core/TextUtil.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_VersionInfo.h"
#include "common/win/Handles.h"
#include "common/win/MessageBoxSeam.h"
#include "common/win/MessageFilter.h"
#include "common/win/MessageOnlyWindow.h"

namespace kav {

namespace {

// Class of the sender's reply window (TMessageOnlyWindow): the running
// instance sends the status to nothing else.
constexpr wchar_t KReplyWindowClass[] = L"KavMessageOnlyWindow";
// The sender waits for our answer and takes the reply at once; a window
// that only shares the class name must not hold the UI thread up for long.
constexpr DWORD KStatusReplyTimeoutMs = 500;

// Bytes tagged Tag to Window as WM_COPYDATA; false when it did not answer in time.
bool SendCopyData(HWND Window, WPARAM Sender, ULONG_PTR Tag, const TRemoteBytes& Bytes, UINT Flags, DWORD TimeoutMs,
                  DWORD_PTR& Result) {
  COPYDATASTRUCT data{};
  data.dwData = Tag;
  data.cbData = static_cast<DWORD>(Bytes.size());
  data.lpData = const_cast<uint8_t*>(Bytes.data());
  Result = 0;
  return SendMessageTimeoutW(Window, WM_COPYDATA, Sender, reinterpret_cast<LPARAM>(&data), Flags, TimeoutMs,
                             &Result) != 0;
}

bool SendStatusReply(HWND AppWindow, HWND ReplyTo, const TRemoteStatus& Status) {
  wchar_t cls[64] = {};
  if (!IsWindow(ReplyTo) || !GetClassNameW(ReplyTo, cls, 64) || lstrcmpW(cls, KReplyWindowClass) != 0) return false;
  DWORD_PTR received = 0;
  // The sender waits in its own SendMessageTimeout to us and takes this one meanwhile.
  return SendCopyData(ReplyTo, reinterpret_cast<WPARAM>(AppWindow), KCopyDataRemoteStatus, EncodeRemoteStatus(Status),
                      SMTO_BLOCK | SMTO_ABORTIFHUNG, KStatusReplyTimeoutMs, received) &&
         received == TRUE;
}

// The process of Window, opened only to wait for its end (null when that is refused).
TKernelHandle OpenWindowProcess(HWND Window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(Window, &pid);
  return TKernelHandle(pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr);
}

// Waits up to WaitMs for the process (or, without its handle, its window) to go.
bool WaitForEnd(const TKernelHandle& Process, HWND Window, DWORD WaitMs) {
  if (Process.Valid()) return WaitForSingleObject(Process.Get(), WaitMs) == WAIT_OBJECT_0;
  const DWORD start = GetTickCount();
  while (IsWindow(Window)) {
    if (GetTickCount() - start >= WaitMs) return false;
    Sleep(50);
  }
  return true;
}

bool WriteAll(HANDLE Out, const std::string& Bytes) {
  DWORD written = 0;
  return WriteFile(Out, Bytes.data(), static_cast<DWORD>(Bytes.size()), &written, nullptr) && written == Bytes.size();
}

bool WriteConsoleText(HANDLE Console, const std::wstring& Text) {
  DWORD written = 0;
  return WriteConsoleW(Console, Text.data(), static_cast<DWORD>(Text.size()), &written, nullptr) &&
         written == Text.size();
}

} // namespace

int HandOverRemoteCommand(const TSingleInstanceGuard& Guard, const TRemoteCommand& Command, const TRemoteWaits& Waits) {
  const DWORD start = GetTickCount();
  const HWND app = Guard.WaitForRunningApplicationWindow(Waits.FindWindow);
  if (!app) return KRemoteExitNotDone;

  // The running instance sends the status here while it answers.
  std::optional<TRemoteStatus> status;
  TMessageOnlyWindow reply([&](UINT Msg, WPARAM WParam, LPARAM LParam, LRESULT& Result) {
    if (Msg != WM_COPYDATA || reinterpret_cast<HWND>(WParam) != app) return false;
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(LParam);
    if (!data || data->dwData != KCopyDataRemoteStatus) return false;
    status = DecodeRemoteStatus(data->lpData, data->cbData);
    Result = status ? TRUE : FALSE;
    return true;
  });
  // An elevated start may ask a program that runs without elevation: let its
  // answer through the message filter (and nothing else from below otherwise).
  AllowMessageWhenElevated(reply.Handle(), WM_COPYDATA);

  // Opened before the command goes, so the process we wait for is the one we told.
  const bool ending = Command.Kind == TRemoteCommandKind::Exit;
  const TKernelHandle process = ending ? OpenWindowProcess(app) : TKernelHandle();

  for (;;) {
    status.reset();
    // Not SMTO_BLOCK: the status reply arrives while we wait.
    const auto sent = SendRemoteCommand(app, reinterpret_cast<WPARAM>(reply.Handle()), Command, SMTO_ABORTIFHUNG,
                                        Waits.Answer);
    if (!sent) return KRemoteExitNotDone;
    const TRemoteAnswer answer = *sent;
    if (answer == TRemoteAnswer::Starting && GetTickCount() - start < Waits.Startup) {
      Sleep(Waits.Retry);
      continue;
    }
    if (ending && answer == TRemoteAnswer::Done)
      return WaitForEnd(process, app, Waits.Exit) ? KRemoteExitDone : KRemoteExitNotDone;
    if (Command.Kind != TRemoteCommandKind::Status || answer != TRemoteAnswer::Done) return RemoteExitCode(answer);
    if (!status) return KRemoteExitNotDone;
    return WriteStatusLine(FormatRemoteStatusLine(*status) + L"\r\n") ? KRemoteExitDone : KRemoteExitNotDone;
  }
}

std::optional<TRemoteAnswer> SendRemoteCommand(HWND AppWindow, WPARAM Sender, const TRemoteCommand& Command,
                                               UINT Flags, DWORD TimeoutMs) {
  DWORD_PTR result = 0;
  if (!SendCopyData(AppWindow, Sender, KCopyDataRemoteCommand, EncodeRemoteCommand(Command), Flags, TimeoutMs, result))
    return std::nullopt;
  return static_cast<TRemoteAnswer>(static_cast<int32_t>(result));
}

int StartResidentAndHandOver(TSingleInstanceGuard& Guard, const TRemoteCommand& Command,
                             const std::vector<std::wstring>& Arguments, const TRemoteWaits& Waits) {
  const std::wstring exe = GetExeFullPath();
  std::wstring commandLine = L"\"" + exe + L"\"";
  for (const auto& arg : Arguments) commandLine += L" " + arg;
  Guard.Release();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return KRemoteExitNotDone;
  const TKernelHandle processHandle(process.hProcess);
  const TKernelHandle threadHandle(process.hThread);
  return HandOverRemoteCommand(Guard, Command, Waits);
}

int ShowRemoteUsage() {
  const std::wstring exe = GetExeFullPath();
  std::wstring product, model;
  if (const auto resource = TVersionInfo::ReadResource(exe)) {
    product = resource->Find(L"ProductName");
    model = resource->Find(L"InternalName");
  }
  ShowMessageBox(nullptr, RemoteUsageText(ExtractFileName(exe), model), product,
                 MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
  return KRemoteExitMalformed;
}

bool WriteStatusLine(const std::wstring& Text) {
  // A program of the windows subsystem gets standard handles only when its
  // caller redirected them (cmd "> file", a pipe, PowerShell capturing it).
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    const DWORD type = GetFileType(out);
    DWORD mode = 0;
    if (type == FILE_TYPE_CHAR && GetConsoleMode(out, &mode)) return WriteConsoleText(out, Text);
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) return WriteAll(out, ToUtf8(Text));
  }
  // Otherwise the console of the command prompt that started us, if any.
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
  bool ok = false;
  {
    const TKernelHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    if (console) ok = WriteConsoleText(console.Get(), Text);
  }
  FreeConsole();
  return ok;
}

LRESULT ServeRemoteCommand(IRemoteCommandTarget* Target, HWND AppWindow, WPARAM Sender, const COPYDATASTRUCT& Data) {
  if (Data.dwData != KCopyDataRemoteCommand) return static_cast<LRESULT>(TRemoteAnswer::NotUnderstood);
  const auto command = DecodeRemoteCommand(Data.lpData, Data.cbData);
  if (!command) return static_cast<LRESULT>(TRemoteAnswer::NotUnderstood);
  TRemoteAnswer answer;
  if (Target == nullptr) {
    answer = TRemoteAnswer::Starting;
  } else if (command->Kind == TRemoteCommandKind::Status) {
    TRemoteStatus status;
    answer = Target->GetRemoteStatus(status);
    if (answer == TRemoteAnswer::Done && !SendStatusReply(AppWindow, reinterpret_cast<HWND>(Sender), status))
      answer = TRemoteAnswer::NotDone;
  } else {
    answer = Target->DoProcess_RemoteCommand(*command);
  }
  return static_cast<LRESULT>(answer);
}

} // namespace kav
