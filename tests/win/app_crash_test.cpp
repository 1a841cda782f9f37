// A hardware fault in the program's own code: recorded in the unhandled-error
// log with code, address and stack, shown in the standard error box, and the
// process ends. The fault happens in a child process (this test program run
// again), because it must end the process it happens in.
#include <windows.h>

#include <gtest/gtest.h>

#include "common_test_util.h"

#include <cstdlib>
#include <string>

#include "app/core/AppExceptions.h"
#include "app/win/Application.h"
#include "app/win/ExceptionLogger.h"
#include "common/core/TextUtil.h"
#include "common/win/CallbackGuard.h"
#include "common/win/MessageBoxSeam.h"

using namespace kav;

namespace {

std::wstring TempFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

void WriteUtf8(const std::wstring& path, const std::wstring& text) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  const std::string bytes = ToUtf8(text);
  DWORD written = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(f);
}

std::wstring EnvW(const wchar_t* name) {
  wchar_t buf[1024];
  const DWORD n = GetEnvironmentVariableW(name, buf, 1024);
  return n > 0 && n < 1024 ? std::wstring(buf, n) : std::wstring();
}

// Opaque to the optimiser, so the write below really faults.
int* volatile GNullTarget = nullptr;

LRESULT CALLBACK FaultingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP) {
    GuardCallback([] { *GNullTarget = 1; });
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

// Runs this test program again with only the child test selected.
DWORD RunChild(const wchar_t* mode, const std::wstring& log, const std::wstring& box) {
  SetEnvironmentVariableW(L"KAV_APP_CRASH_CHILD", mode);
  SetEnvironmentVariableW(L"KAV_APP_CRASH_LOG", log.c_str());
  SetEnvironmentVariableW(L"KAV_APP_CRASH_BOX", box.c_str());
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(self) + L"\" --gtest_filter=AppCrashChild.*";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
  SetEnvironmentVariableW(L"KAV_APP_CRASH_CHILD", nullptr);
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

void ExpectFaultReported(const wchar_t* mode) {
  const std::wstring log = TempFile(L"kav_app_crash_unhandled.log");
  const std::wstring box = TempFile(L"kav_app_crash_box.txt");
  DeleteFileW(log.c_str());
  DeleteFileW(box.c_str());
  EXPECT_EQ(RunChild(mode, log, box), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));

  const std::wstring record = kavtest::ReadUtf8File(log);
  EXPECT_NE(record.find(L"Fatal fault"), std::wstring::npos) << ToUtf8(record);
  EXPECT_NE(record.find(L"EXCEPTION_ACCESS_VIOLATION (C0000005)"), std::wstring::npos);
  EXPECT_NE(record.find(L"Address: "), std::wstring::npos);
  EXPECT_NE(record.find(L"win_app_crash_test.exe+0x"), std::wstring::npos);
  EXPECT_NE(record.find(L"書き込み違反がおきました"), std::wstring::npos);
  EXPECT_NE(record.find(L"Call stack:\r\n    #0 "), std::wstring::npos);
  EXPECT_NE(record.find(L"    #1 "), std::wstring::npos); // more than the faulting frame
  // Time stamp first: "yyyy/mm/dd hh:mm:ss:zzz ".
  ASSERT_GT(record.size(), 24u);
  EXPECT_EQ(record[4], L'/');
  EXPECT_EQ(record[13], L':');

  // The standard error box: text with the full stop, the application title.
  const std::wstring shown = kavtest::ReadUtf8File(box);
  EXPECT_NE(shown.find(L"caption=KTX-AV90R制御ソフト\n"), std::wstring::npos) << ToUtf8(shown);
  EXPECT_NE(shown.find(L"に対する書き込み違反がおきました.\n"), std::wstring::npos);
  EXPECT_NE(shown.find(L"flags=16\n"), std::wstring::npos); // MB_OK | MB_ICONERROR
}

} // namespace

TEST(AppCrash, FaultInAWindowProcedureIsLoggedShownAndEndsTheProcess) { ExpectFaultReported(L"wndproc"); }

TEST(AppCrash, FaultOutsideAnyCallbackToo) { ExpectFaultReported(L"plain"); }

TEST(AppCrash, EndOfSessionTearsDownBeforeTheProcessEnds) {
  const std::wstring marker = TempFile(L"kav_app_endsession.txt");
  DeleteFileW(marker.c_str());
  EXPECT_EQ(RunChild(L"endsession", marker, L""), 0u);
  EXPECT_EQ(kavtest::ReadUtf8File(marker), L"torn down");
}

TEST(AppCrash, ProgramErrorRecordNamesClassLocationAndMessage) {
  const std::wstring log = TempFile(L"kav_app_error_record.log");
  DeleteFileW(log.c_str());
  const std::wstring before = TExceptionLogger::LogFile();
  TExceptionLogger::SetLogFile(log);
  std::exception_ptr nested;
  try {
    try {
      throw EKavError(L"設定ファイルがありません");
    } catch (...) {
      std::throw_with_nested(std::runtime_error("outer"));
    }
  } catch (...) {
    nested = std::current_exception();
  }
  TExceptionLogger::LogException(nested, L"TFormMain.FormCreate");
  TExceptionLogger::SetLogFile(before);
  const std::wstring record = kavtest::ReadUtf8File(log);
  EXPECT_NE(record.find(L"Unhandled exception\r\n"), std::wstring::npos) << ToUtf8(record);
  EXPECT_NE(record.find(L"  Location: TFormMain.FormCreate\r\n"), std::wstring::npos);
  EXPECT_NE(record.find(L"  Message: 設定ファイルがありません\r\n"), std::wstring::npos);
  // The class readable, and the one that was thrown first, not its wrapper.
  EXPECT_NE(record.find(L"  Class: kav::EKavError\r\n"), std::wstring::npos);
  EXPECT_NE(record.find(L"  Call stack:\r\n    #0 "), std::wstring::npos);
  DeleteFileW(log.c_str());
}

// The child side: only runs when started by the tests above.
TEST(AppCrashChild, Fault) {
  const std::wstring mode = EnvW(L"KAV_APP_CRASH_CHILD");
  if (mode.empty()) GTEST_SKIP() << "runs only as the child of the crash tests";
  if (mode == L"endsession") {
    // Windows ends the session: the handler runs, then the process ends with 0.
    TApplication app(GetModuleHandleW(nullptr));
    const std::wstring marker = EnvW(L"KAV_APP_CRASH_LOG");
    app.SetEndSessionHandler([marker] { WriteUtf8(marker, L"torn down"); });
    SendMessageW(app.Handle(), WM_ENDSESSION, FALSE, 0); // a cancelled end: nothing happens
    if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) ExitProcess(3);
    SendMessageW(app.Handle(), WM_ENDSESSION, TRUE, 0);
    ExitProcess(2);
  }
  TExceptionLogger::Install();
  TExceptionLogger::SetLogFile(EnvW(L"KAV_APP_CRASH_LOG"));
  const std::wstring boxFile = EnvW(L"KAV_APP_CRASH_BOX");
  SetMessageBoxHandler([boxFile](HWND, const std::wstring& text, const std::wstring& caption, UINT flags) {
    WriteUtf8(boxFile, L"text=" + text + L"\ncaption=" + caption + L"\nflags=" + std::to_wstring(flags) + L"\n");
    return IDOK;
  });
  TApplication app(GetModuleHandleW(nullptr));
  app.SetTitle(L"KTX-AV90R制御ソフト");
  if (mode == L"wndproc") {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &FaultingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"AppCrashFaultingWindow";
    RegisterClassW(&wc);
    HWND w = CreateWindowW(L"AppCrashFaultingWindow", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    SendMessageW(w, WM_APP, 0, 0);
  } else {
    *GNullTarget = 2;
  }
  ADD_FAILURE() << "the process should have ended at the fault";
}
