// The single-instance guard: a second start finds the first, hands over its
// command line and leaves; also with the real program as the second start.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

#include "app/win/Application.h"
#include "app/win/SingleInstance.h"
#include "tests/win/support/ChildProcess.h"
#include "tests/win/support/HostEnvironment.h"

using namespace kav;

TEST(AppInstance, SecondGuardOfTheSameNameHandsOverItsCommandLine) {
  TApplication app(GetModuleHandleW(nullptr));
  TSingleInstanceGuard first(L"InstanceTestProgram");
  ASSERT_TRUE(first.IsFirstInstance());
  first.MarkApplicationWindow(app.Handle());

  // Names differ only in case: still the same program.
  TSingleInstanceGuard second(L"instancetestprogram");
  EXPECT_FALSE(second.IsFirstInstance());
  EXPECT_EQ(second.FindRunningApplicationWindow(), app.Handle());
  EXPECT_TRUE(second.ActivateRunningInstance(L"prog.exe /nonio \"C:\\a b\\c\"", 1000));
  EXPECT_EQ(app.LastHandedOverCommandLine(), L"prog.exe /nonio \"C:\\a b\\c\"");

  TSingleInstanceGuard other(L"AnotherProgram");
  EXPECT_TRUE(other.IsFirstInstance());
  EXPECT_EQ(other.FindRunningApplicationWindow(), nullptr);
}

TEST(AppInstance, AGuardThatRefusesAccessMeansAnInstanceRuns) {
  // The guard of an instance started with other rights (elevated, another
  // account's token) may exist with a DACL that grants us nothing.
  std::wstring name;
  {
    const TSingleInstanceGuard probe(L"InstanceTestRefused");
    name = probe.MutexName();
  }
  ACL emptyAcl{};
  ASSERT_TRUE(InitializeAcl(&emptyAcl, sizeof emptyAcl, ACL_REVISION));
  SECURITY_DESCRIPTOR sd{};
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, &emptyAcl, FALSE));
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
  HANDLE foreign = CreateMutexW(&sa, FALSE, name.c_str());
  ASSERT_NE(foreign, nullptr);
  // The system really refuses us (the situation the guard must recognise).
  HANDLE again = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD error = GetLastError();
  if (again) CloseHandle(again);
  if (again != nullptr || error != ERROR_ACCESS_DENIED) {
    CloseHandle(foreign);
    GTEST_SKIP() << "this system does not check access to named objects";
  }
  const TSingleInstanceGuard second(L"InstanceTestRefused");
  EXPECT_FALSE(second.IsFirstInstance());
  CloseHandle(foreign);
}

TEST(AppInstance, TheApplicationObjectKeepsItsThreadInASingleThreadedApartment) {
  {
    const TApplication app(GetModuleHandleW(nullptr));
    // The shell's calls need an apartment: this thread already has one, and
    // it is single-threaded.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    const HRESULT sta = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    EXPECT_EQ(sta, S_FALSE);
    if (SUCCEEDED(sta)) CoUninitialize();
  }
  // Gone with the application object.
  const HRESULT mta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_EQ(mta, S_OK);
  if (SUCCEEDED(mta)) CoUninitialize();
}

TEST(AppInstance, NoWindowToActivateGivesUpAfterTheWait) {
  TSingleInstanceGuard first(L"InstanceTestNoWindow");
  TSingleInstanceGuard second(L"InstanceTestNoWindow");
  EXPECT_FALSE(second.IsFirstInstance());
  const DWORD start = GetTickCount();
  EXPECT_FALSE(second.ActivateRunningInstance(L"x", 300));
  EXPECT_GE(GetTickCount() - start, 250u);
}

#ifdef KAV_PROGRAM_EXE
TEST(AppInstance, TheRealProgramStartedTwiceExitsAtOnceWithoutALogLine) {
  // This process plays the running program: same guard name, marked window.
  TApplication app(GetModuleHandleW(nullptr));
  TSingleInstanceGuard running(L"KAV90R_HotKeyController");
  ASSERT_TRUE(running.IsFirstInstance()) << "the program must not be running during this test";
  running.MarkApplicationWindow(app.Handle());

  wchar_t common[MAX_PATH] = {};
  ExpandEnvironmentStringsW(L"%ProgramData%\\KOVA\\KAV90R_HotKeyController\\Log\\KAV90R_HotKeyController_*.log", common,
                            MAX_PATH);
  auto countLogs = [&] {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(common, &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
  };
  const int logsBefore = countLogs();

  // The second start talks to our window while we wait: serve it. One that
  // did not see us is ended, not left running.
  const DWORD code = kavtest::RunProcess(L"\"" + kavtest::WinePath(KAV_PROGRAM_EXE) + L"\" /handover-test", 60000, true);
  ASSERT_NE(code, kavtest::KNotStarted);
  EXPECT_EQ(code, 0u);
  EXPECT_NE(app.LastHandedOverCommandLine().find(L"/handover-test"), std::wstring::npos);
  EXPECT_EQ(countLogs(), logsBefore);
}
#endif
