// A hardware fault in the program's own code: recorded in the unhandled-error
// log with code, address and stack, shown in the standard error box, and the
// process ends. The fault happens in a child process (this test program run
// again), because it must end the process it happens in.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

#include "app/core/AppExceptions.h"
#include "app/win/Application.h"
#include "app/win/ExceptionLogger.h"
#include "common/core/TextUtil.h"
#include "common/win/CallbackGuard.h"
#include "common/win/MessageBoxSeam.h"
#include "tests/win/support/ChildProcess.h"
#include "tests/win/support/FileSystem.h"
#include "tests/win/support/HostEnvironment.h"

using namespace kav;

namespace {

void WriteUtf8(const std::wstring& path, const std::wstring& text) { kavtest::WriteBytes(path, ToUtf8(text)); }

// Expects a record (a log's, a box's) to hold each of Parts; a failure shows the record.
void ExpectParts(const std::wstring& Record, std::initializer_list<const wchar_t*> Parts) {
  for (const wchar_t* part : Parts)
    EXPECT_NE(Record.find(part), std::wstring::npos) << ToUtf8(part) << " in:\n" << ToUtf8(Record);
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
  const DWORD code = kavtest::RunProcess(L"\"" + std::wstring(self) + L"\" --gtest_filter=AppCrashChild.*", 60000);
  SetEnvironmentVariableW(L"KAV_APP_CRASH_CHILD", nullptr);
  return code;
}

void ExpectFaultReported(const wchar_t* mode) {
  const kavtest::TTempDir dir;
  const std::wstring log = dir / L"unhandled.log";
  const std::wstring box = dir / L"box.txt";
  EXPECT_EQ(RunChild(mode, log, box), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));

  const std::wstring record = kavtest::ReadUtf8File(log);
  ExpectParts(record, {L"Fatal fault", L"EXCEPTION_ACCESS_VIOLATION (C0000005)", L"Address: ",
                       L"win_app_crash_test.exe+0x", L"書き込み違反がおきました", L"Call stack:\r\n    #0 ",
                       L"    #1 "}); // more than the faulting frame
  // Time stamp first: "yyyy/mm/dd hh:mm:ss:zzz ".
  ASSERT_GT(record.size(), 24u);
  EXPECT_EQ(record[4], L'/');
  EXPECT_EQ(record[13], L':');

  // The standard error box: text with the full stop, the application title.
  ExpectParts(kavtest::ReadUtf8File(box), {L"caption=KTX-AV90R制御ソフト\n", L"に対する書き込み違反がおきました.\n",
                                          L"flags=16\n"}); // MB_OK | MB_ICONERROR
}

} // namespace

TEST(AppCrash, FaultInAWindowProcedureIsLoggedShownAndEndsTheProcess) { ExpectFaultReported(L"wndproc"); }

TEST(AppCrash, FaultOutsideAnyCallbackToo) { ExpectFaultReported(L"plain"); }

TEST(AppCrash, EndOfSessionTearsDownBeforeTheProcessEnds) {
  const kavtest::TTempDir dir;
  const std::wstring marker = dir / L"endsession.txt";
  EXPECT_EQ(RunChild(L"endsession", marker, L""), 0u);
  EXPECT_EQ(kavtest::ReadUtf8File(marker), L"torn down");
}

TEST(AppCrash, ProgramErrorRecordNamesClassLocationAndMessage) {
  const kavtest::TTempDir dir;
  const std::wstring log = dir / L"error_record.log";
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
  // The class readable, and the one that was thrown first, not its wrapper.
  ExpectParts(kavtest::ReadUtf8File(log), {L"Unhandled exception\r\n", L"  Location: TFormMain.FormCreate\r\n",
                                          L"  Message: 設定ファイルがありません\r\n", L"  Class: kav::EKavError\r\n",
                                          L"  Call stack:\r\n    #0 "});
}

// The child side: only runs when started by the tests above.
TEST(AppCrashChild, Fault) {
  const std::wstring mode = kavtest::EnvVar(L"KAV_APP_CRASH_CHILD");
  if (mode.empty()) GTEST_SKIP() << "runs only as the child of the crash tests";
  if (mode == L"endsession") {
    // Windows ends the session: the handler runs, then the process ends with 0.
    TApplication app(GetModuleHandleW(nullptr));
    const std::wstring marker = kavtest::EnvVar(L"KAV_APP_CRASH_LOG");
    app.SetEndSessionHandler([marker] { WriteUtf8(marker, L"torn down"); });
    SendMessageW(app.Handle(), WM_ENDSESSION, FALSE, 0); // a cancelled end: nothing happens
    if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) ExitProcess(3);
    SendMessageW(app.Handle(), WM_ENDSESSION, TRUE, 0);
    ExitProcess(2);
  }
  TExceptionLogger::Install();
  TExceptionLogger::SetLogFile(kavtest::EnvVar(L"KAV_APP_CRASH_LOG"));
  const std::wstring boxFile = kavtest::EnvVar(L"KAV_APP_CRASH_BOX");
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
