// Start-up pieces of the support library: folder values, log-file names,
// the event source, computer name and address, the command line, and the
// whole set-up run by a copy of this executable under another name.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <regex>
#include <vector>

#include "common/core/TextUtil.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_Clock.h"
#include "common/win/KCL_EventLog.h"
#include "common/win/KCL_FileOperation.h"
#include "common/win/KCL_IniFileFunc.h"
#include "common/win/KCL_NetworkFunc.h"
#include "common/win/KCL_RegistryFunc.h"
#include "common/win/KCL_VersionInfo.h"
#include "tests/win/support/ChildProcess.h"
#include "tests/win/support/FileSystem.h"

using namespace kav;
using kavtest::TTempDir;

namespace {

constexpr wchar_t KChildVariable[] = L"KAV_STARTUP_CHILD";

std::wstring ShellFolderPath(int Csidl) {
  wchar_t buffer[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, Csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return buffer;
}

std::wstring RegString(HKEY Root, const std::wstring& Key, const wchar_t* Name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer);
  if (RegGetValueW(Root, Key.c_str(), Name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return L"<none>";
  return buffer;
}

DWORD RegDword(HKEY Root, const std::wstring& Key, const wchar_t* Name) {
  DWORD value = 0, size = sizeof(value);
  if (RegGetValueW(Root, Key.c_str(), Name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) return 0xFFFFFFFF;
  return value;
}

bool HklmWritable() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application", 0,
                    KEY_CREATE_SUB_KEY, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// The start-up steps of the program, in its order, for the running executable.
void RunProgramSetUp() {
  const std::wstring exe = GetExeFullPath();
  const TVersionInfo version(exe);
  TRegistryFunc::SetEventLogSource(exe);
  const std::wstring handle = ParseCommandLine();
  InitAppFolders(exe, version.InternalName(), L"HotKeyController");
  UseFixedAppDataFolder();
  InitLogFilePaths(ExeBaseName);
  InitIniFilePaths(ExeBaseName, false);
  TFileOperation::CreateFolder(TFileOperation::GetFileDir(SettingsIniFile), true);
  TFileOperation::DeleteOldFiles(LogFolder, TIniFileFunc::GetLogKeepDay(), L".log");
  WriteEventLog(L"起動準備, コンピューター名：" + GetComputerNameText() + L", IPアドレス：" +
                    TNetworkFunc::GetIPAddress(GetComputerNameText()),
                KEventInformation, 0, 1);
  WriteEventLog(L"handle=" + handle, KEventInformation, 0, 1);
}

// This computer's IPv4 interface addresses (loopback included).
std::vector<std::wstring> OwnInterfaceAddresses() {
  std::vector<std::wstring> result;
  WSADATA wsa{};
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return result;
  const SOCKET probe = socket(AF_INET, SOCK_DGRAM, 0);
  INTERFACE_INFO interfaces[64];
  DWORD size = 0;
  if (probe != INVALID_SOCKET && WSAIoctl(probe, SIO_GET_INTERFACE_LIST, nullptr, 0, interfaces, sizeof interfaces,
                                          &size, nullptr, nullptr) == 0) {
    for (DWORD i = 0; i < size / sizeof(INTERFACE_INFO); ++i)
      result.push_back(FromUtf8(inet_ntoa(interfaces[i].iiAddress.AddressIn.sin_addr)));
  }
  if (probe != INVALID_SOCKET) closesocket(probe);
  WSACleanup();
  return result;
}

} // namespace

TEST(Startup, FolderValuesFromTheShellFolders) {
  const std::wstring exe = L"C:\\Program Files\\KOVA\\KAV90R_HotKeyController.exe";
  InitAppFolders(exe, L"KTX-AV90R", L"HotKeyController");
  EXPECT_EQ(ProgramFolder, L"C:\\Program Files\\KOVA\\");
  EXPECT_EQ(CommonAppDataFolder, IncludeTrailingPathDelimiter(ShellFolderPath(CSIDL_COMMON_APPDATA)));
  EXPECT_EQ(LocalAppDataFolder, IncludeTrailingPathDelimiter(ShellFolderPath(CSIDL_LOCAL_APPDATA)));
  EXPECT_EQ(UserProfileFolder, IncludeTrailingPathDelimiter(ShellFolderPath(CSIDL_PROFILE)));
  EXPECT_GT(CommonAppDataFolder.size(), 3u);
  EXPECT_EQ(CommonVendorFolder, CommonAppDataFolder + L"KOVA\\");
  EXPECT_EQ(AppDataFolder, CommonVendorFolder + L"KTX-AV90R\\HotKeyController\\");
  EXPECT_EQ(UserSettingsFolder, LocalAppDataFolder + L"KOVA\\KTX-AV90R\\HotKeyController\\");
  EXPECT_EQ(LogFolder, AppDataFolder + L"Log\\");

  UseFixedAppDataFolder();
  EXPECT_EQ(AppDataFolder, CommonVendorFolder + L"KAV90R_HotKeyController\\");
  EXPECT_EQ(LogFolder, AppDataFolder + L"Log\\");

  InitIniFilePaths(L"KAV90R_HotKeyController", false);
  EXPECT_EQ(SettingsIniFile, AppDataFolder + L"KAV90R_HotKeyController.ini");
  InitIniFilePaths(L"X", true);  // no shared working directory here
  EXPECT_EQ(SettingsIniFile, AppDataFolder + L"X.ini");
}

TEST(Startup, LogFileNamesCarryTheStartTime) {
  LogFolder = L"C:\\ProgramData\\KOVA\\KAV90R_HotKeyController\\Log\\";
  const TDateTimeParts before = ReadLocalTime();
  InitLogFilePaths(L"KAV90R_HotKeyController");
  const TDateTimeParts after = ReadLocalTime();
  const std::wstring prefix = LogFolder + L"KAV90R_HotKeyController_";
  ASSERT_EQ(LogFile.substr(0, prefix.size()), prefix);
  const std::wstring stamp = LogFile.substr(prefix.size() - 1, 15);
  EXPECT_TRUE(stamp == FormatFileStamp(before) || stamp == FormatFileStamp(after)) << ToUtf8(LogFile);
  EXPECT_EQ(LogFile.substr(prefix.size() + 14), L".log");
  EXPECT_TRUE(std::regex_match(ToUtf8(UnhandledLogFile),
                               std::regex(".*\\\\Log\\\\KAV90R_HotKeyController_\\d{14}_Unhandled\\.log")))
      << ToUtf8(UnhandledLogFile);
}

TEST(Startup, EventSourceKeyWhereTheRegistryAllowsIt) {
  const std::wstring saved = ExeBaseName;
  ExeBaseName = L"KavTestSource" + std::to_wstring(GetCurrentProcessId());
  const std::wstring key = TRegistryFunc::EventLogSourceKey(ExeBaseName);
  EXPECT_EQ(key, L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\" + ExeBaseName);
  const std::wstring exe = L"C:\\Program Files\\KOVA\\" + ExeBaseName + L".exe";
  EXPECT_NO_THROW(TRegistryFunc::SetEventLogSource(exe));
  if (HklmWritable()) {
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"EventMessageFile"), exe);
    EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"TypesSupported"), 7u);
    // A moved executable registers its new path on the next start.
    TRegistryFunc::SetEventLogSource(L"D:\\moved\\x.exe");
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"EventMessageFile"), L"D:\\moved\\x.exe");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  } else {
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"EventMessageFile"), L"<none>");
  }
  ExeBaseName = saved;
}

TEST(Startup, EventRecordAndPlainLogLine) {
  TTempDir dir;
  LogFolder = dir.Path() + L"\\";
  LogFile = LogFolder + L"e.log";
  ExeBaseName = L"KavTestEvents";
  EXPECT_EQ(FormatEventLogText(L"起動"), L"KOVAイベントログ：起動");
  WriteEventLog(L"起動", KEventInformation, 0, 1);
  const std::string bytes = kavtest::ReadBytes(LogFile);
  EXPECT_TRUE(std::regex_match(bytes, std::regex("\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3} "
                                                 "\xE8\xB5\xB7\xE5\x8B\x95\r\n")))
      << bytes;
  // The record is written before the line, so a failing line still throws after it.
  LogFile = dir / L"missing\\e.log";
  LogFolder = dir.Path() + L"\\blocker\\";
  kavtest::WriteBytes(dir / L"blocker", "x");
  EXPECT_THROW(WriteEventLog(L"lost", KEventInformation, 0, 1), EFileOperationError);
}

TEST(Startup, ComputerNameAndAddress) {
  // The name is the one the system keeps in its registry, at most 15 characters.
  const std::wstring name = GetComputerNameText();
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  EXPECT_EQ(name, RegString(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName",
                            L"ComputerName"));

  EXPECT_EQ(TNetworkFunc::GetIPAddress(L"localhost"), L"127.0.0.1");
  EXPECT_EQ(TNetworkFunc::GetIPAddress(L"no-such-host.invalid"), L"");

  // This computer's address, asked by its name or by the local host name
  // (empty text), is in dotted IPv4 form and is this computer's: one of its
  // interface addresses, or in the loopback network (a hosts file may map
  // the name to 127.0.1.1).
  const std::vector<std::wstring> own = OwnInterfaceAddresses();
  ASSERT_FALSE(own.empty());
  const std::regex dotted("(25[0-5]|2[0-4]\\d|1?\\d?\\d)(\\.(25[0-5]|2[0-4]\\d|1?\\d?\\d)){3}");
  for (const std::wstring& asked : {name, std::wstring()}) {
    const std::wstring got = TNetworkFunc::GetIPAddress(asked);
    EXPECT_TRUE(std::regex_match(ToUtf8(got), dotted)) << ToUtf8(asked) << " -> " << ToUtf8(got);
    EXPECT_TRUE(got.rfind(L"127.", 0) == 0 || std::find(own.begin(), own.end(), got) != own.end())
        << ToUtf8(asked) << " -> " << ToUtf8(got);
  }
}

// Runs only inside the renamed copy started by the next test.
TEST(Startup, ChildRunsTheProgramSetUp) {
  if (GetEnvironmentVariableW(KChildVariable, nullptr, 0) == 0) GTEST_SKIP() << "started by RenamedExecutable only";
  RunProgramSetUp();
}

TEST(Startup, RenamedExecutableGetsItsOwnNames) {
  TTempDir dir;
  const std::wstring base = L"X" + std::to_wstring(GetCurrentProcessId());
  const std::wstring copy = dir / (base + L".exe");
  ASSERT_TRUE(CopyFileW(GetExeFullPath().c_str(), copy.c_str(), FALSE));

  // The program's data folder, as the copy will compute it.
  InitAppFolders(copy, L"KTX-AV90R", L"HotKeyController");
  UseFixedAppDataFolder();
  const std::wstring ini = AppDataFolder + base + L".ini";
  const std::wstring logFolder = LogFolder;

  std::wstring command = L"\"" + copy + L"\" --gtest_filter=Startup.ChildRunsTheProgramSetUp /nonio /handle 12 /DEBUG";
  SetEnvironmentVariableW(KChildVariable, L"1");
  const DWORD code = kavtest::RunProcess(command, 60000, false, dir.Path().c_str());
  SetEnvironmentVariableW(KChildVariable, nullptr);
  ASSERT_NE(code, kavtest::KNotStarted);
  ASSERT_NE(code, static_cast<DWORD>(STILL_ACTIVE)) << "the copy did not end";
  EXPECT_EQ(code, 0u);

  // X.ini in the fixed data folder, holding the retention written back.
  EXPECT_TRUE(kavtest::FileExists(ini)) << ToUtf8(ini);
  EXPECT_EQ(kavtest::ReadBytes(ini), "[System]\r\nLogKeepDay=30\r\n");
  // X_<stamp>.log in its Log folder.
  std::vector<std::wstring> logs;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((logFolder + base + L"_*.log").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do logs.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
  }
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_TRUE(std::regex_match(ToUtf8(logs[0]), std::regex(ToUtf8(base) + "_\\d{14}\\.log")));
  const std::string log = kavtest::ReadBytes(logFolder + logs[0]);
  EXPECT_NE(log.find(" " + ToUtf8(L"起動準備, コンピューター名：" + GetComputerNameText() + L", IPアドレス：")),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" handle=12\r\n"), std::string::npos) << log;
  // "/DEBUG" asked for a report of what was still held at exit: it goes to
  // the debugger output, never into the log file.
  EXPECT_EQ(log.find(ToUtf8(L"未解放")), std::string::npos) << log;
  // The event source carries the new name.
  const std::wstring key = TRegistryFunc::EventLogSourceKey(base);
  if (HklmWritable()) {
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"EventMessageFile"), copy);
  }

  RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  DeleteFileW(ini.c_str());
  DeleteFileW((logFolder + logs[0]).c_str());
}
