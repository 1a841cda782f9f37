// Folders, files, log lines and the log clean-up on the real file system.
#include <gtest/gtest.h>

#include <regex>

#include "common/core/TextUtil.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_Clock.h"
#include "common/win/KCL_FileOperation.h"
#include "tests/win/support/FileSystem.h"
#include "tests/win/support/ScopedValue.h"

#include <aclapi.h>
#include <sddl.h>

using namespace kav;
using kavtest::TTempDir;

namespace {

// Puts LogFolder/LogFile into a test folder for the life of the object.
class TLogPaths {
public:
  explicit TLogPaths(const std::wstring& Folder, const std::wstring& Name = L"X_20161201093015.log")
      : FFolder(LogFolder, IncludeTrailingPathDelimiter(Folder)), FFile(LogFile, LogFolder + Name) {}

private:
  kavtest::TScopedValue<std::wstring> FFolder, FFile;
};

constexpr int64_t KDayMs = 24LL * 60 * 60 * 1000;

bool FolderExists(const std::wstring& Path) {
  const DWORD a = GetFileAttributesW(Path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether a DACL holds an explicit entry allowing BUILTIN\Users
// (S-1-5-32-545) modify rights inherited by files and subfolders; Count gets
// the number of explicit Users entries.
bool DaclHasUsersModifyGrant(PACL Dacl, int* Count = nullptr) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID users = nullptr;
  AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &users);
  const DWORD modify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
  bool found = false;
  int count = 0;
  for (DWORD i = 0; Dacl != nullptr && i < Dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(Dacl, i, &ace)) continue;
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERITED_ACE)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (!EqualSid(&allowed->SidStart, users)) continue;
    ++count;
    const bool inherits = (header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) ==
                          (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    found = found || ((allowed->Mask & modify) == modify && inherits);
  }
  FreeSid(users);
  if (Count != nullptr) *Count = count;
  return found;
}

// The same for a folder on disk.
bool HasUsersModifyGrant(const std::wstring& Path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(Path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &sd) != ERROR_SUCCESS) {
    return false;
  }
  const bool found = DaclHasUsersModifyGrant(dacl);
  LocalFree(sd);
  return found;
}

// Wine keeps no access-control lists on files (it maps them to Unix modes),
// so a grant on a real folder can only be read back on Windows.
bool FileAclsAreKept() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

// The grant on a folder, where the file system can show it (see FileAclsAreKept).
void ExpectGrant(const std::wstring& Folder, bool Expected) {
  if (FileAclsAreKept()) {
    EXPECT_EQ(HasUsersModifyGrant(Folder), Expected) << ToUtf8(Folder);
  }
}

} // namespace

TEST(FileOperation, CreateFolderMakesParentsAndGrantsUsersOnTheFolderOnly) {
  TTempDir dir;
  // Spaces in the path, and the trailing delimiter that folder values carry.
  const std::wstring parent = dir / L"Program Data";
  const std::wstring target = parent + L"\\KOVA Test\\App Folder\\";
  TFileOperation::CreateFolder(target, true);
  EXPECT_TRUE(TFileOperation::ExistFolder(target));
  ExpectGrant(ExcludeTrailingPathDelimiter(target), true);
  ExpectGrant(parent, false);  // created on the way, no grant

  // Without AccessRight: created, no grant.
  const std::wstring plain = dir / L"plain\\sub";
  TFileOperation::CreateFolder(plain, false);
  EXPECT_TRUE(FolderExists(plain));
  ExpectGrant(plain, false);

  // An existing folder is left as it is: no grant is added.
  TFileOperation::CreateFolder(plain, true);
  ExpectGrant(plain, false);

  EXPECT_THROW(TFileOperation::CreateFolder(L"", true), EFileOperationError);
  try {
    TFileOperation::CreateFolder(L"", false);
  } catch (const EFileOperationError& e) {
    EXPECT_EQ(e.Message(), L"Unable to create directory");
  }
}

TEST(FileOperation, UsersGrantIsMergedIntoTheFoldersList) {
  // System full control, a read-only explicit Users entry and Everyone read.
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;SY)(A;;FR;;;BU)(A;OICI;FR;;;WD)",
                                                                   SDDL_REVISION_1, &sd, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
  int before = 0;
  EXPECT_FALSE(DaclHasUsersModifyGrant(dacl, &before));
  EXPECT_EQ(before, 1);

  PACL merged = TFileOperation::MergeUsersModifyGrant(dacl);
  ASSERT_NE(merged, nullptr);
  int after = 0;
  EXPECT_TRUE(DaclHasUsersModifyGrant(merged, &after));
  EXPECT_EQ(after, 1);  // the old Users entry was replaced, not kept beside it
  EXPECT_EQ(merged->AceCount, 3);  // System and Everyone kept
  LocalFree(merged);
  LocalFree(sd);

  // A folder without any list yet gets one holding the grant.
  PACL fresh = TFileOperation::MergeUsersModifyGrant(nullptr);
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(DaclHasUsersModifyGrant(fresh));
  LocalFree(fresh);
}

TEST(FileOperation, GrantOnAFolderWithSpacesSucceeds) {
  TTempDir dir;
  const std::wstring folder = dir / L"Folder With Spaces\\";
  CreateDirectoryW(ExcludeTrailingPathDelimiter(folder).c_str(), nullptr);
  EXPECT_TRUE(TFileOperation::GrantUsersModify(folder));
  ExpectGrant(ExcludeTrailingPathDelimiter(folder), true);
  EXPECT_FALSE(TFileOperation::GrantUsersModify(dir / L"missing"));
}

TEST(FileOperation, CreateFolderThatCannotBeMadeIsNotReported) {
  TTempDir dir;
  kavtest::WriteBytes(dir / L"blocker", "x");  // a file where a folder should go
  EXPECT_NO_THROW(TFileOperation::CreateFolder(dir / L"blocker\\sub\\", true));
  EXPECT_FALSE(TFileOperation::ExistFolder(dir / L"blocker\\sub"));
}

TEST(FileOperation, ExistAndCreateFileAndFolder) {
  TTempDir dir;
  const std::wstring file = dir / L"a b\\settings.ini";
  EXPECT_FALSE(TFileOperation::ExistFile(file));
  TFileOperation::CreateFileAndFolder(file, true);
  EXPECT_TRUE(TFileOperation::ExistFile(file));
  EXPECT_FALSE(TFileOperation::ExistFolder(file));
  EXPECT_TRUE(TFileOperation::ExistFolder(dir / L"a b"));
  EXPECT_FALSE(TFileOperation::ExistFile(dir / L"a b"));
  ExpectGrant(dir / L"a b", true);
  EXPECT_EQ(kavtest::ReadBytes(file), "");

  // CreateFile never truncates an existing file.
  kavtest::WriteBytes(file, "[System]\r\n");
  EXPECT_FALSE(TFileOperation::CreateFile(file));
  EXPECT_EQ(kavtest::ReadBytes(file), "[System]\r\n");
  EXPECT_TRUE(TFileOperation::CreateFile(dir / L"new.txt"));

  // A file in a missing folder cannot be created: an error naming the file.
  try {
    TFileOperation::CreateFile(dir / L"missing\\x.ini");
    ADD_FAILURE() << "no error";
  } catch (const EFileOperationError& e) {
    EXPECT_NE(e.Message().find(dir / L"missing\\x.ini"), std::wstring::npos);
  }
  EXPECT_EQ(TFileOperation::GetFileDir(L"C:\\ProgramData\\KOVA\\x.ini"), L"C:\\ProgramData\\KOVA\\");
}

TEST(FileOperation, DeleteFileHonoursReadOnly) {
  TTempDir dir;
  EXPECT_TRUE(TFileOperation::DeleteFile(dir / L"none.log", false));  // nothing to delete
  const std::wstring file = dir / L"ro.log";
  kavtest::WriteBytes(file, "x");
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_THROW(TFileOperation::DeleteFile(file, false), EFileOperationError);
  EXPECT_TRUE(kavtest::FileExists(file));
  EXPECT_TRUE(TFileOperation::DeleteFile(file, true));
  EXPECT_FALSE(kavtest::FileExists(file));
}

TEST(FileOperation, WriteLogAppendsUtf8LinesWithoutByteOrderMark) {
  TTempDir dir;
  const TLogPaths paths(dir / L"Log Folder");
  TFileOperation::WriteLog(L"起動");
  TFileOperation::WriteLog(L"second line");
  ExpectGrant(dir / L"Log Folder", true);
  const std::string bytes = kavtest::ReadBytes(LogFile);
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
  const std::regex line(
      "\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3} \xE8\xB5\xB7\xE5\x8B\x95\r\n"  // 起動 in UTF-8
      "\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3} second line\r\n");
  EXPECT_TRUE(std::regex_match(bytes, line)) << bytes;
  // The stamp is now, in local time.
  const TDateTimeParts now = ReadLocalTime();
  char year[8];
  snprintf(year, sizeof(year), "%04d/", now.Year);
  EXPECT_EQ(bytes.substr(0, 5), year);
}

TEST(FileOperation, WriteLogHoldsTheFileOnlyWhileWriting) {
  TTempDir dir;
  const TLogPaths paths(dir.Path());
  TFileOperation::WriteLog(L"one");
  // Between lines another process may open the file for writing and even delete it.
  HANDLE h = CreateFileW(LogFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // While someone holds it exclusively, the line is lost with an error, not a crash.
  EXPECT_THROW(TFileOperation::WriteLog(L"blocked"), EFileOperationError);
  CloseHandle(h);
  TFileOperation::WriteLog(L"two");
  const std::string bytes = kavtest::ReadBytes(LogFile);
  EXPECT_EQ(bytes.find("blocked"), std::string::npos);
  EXPECT_NE(bytes.find(" two\r\n"), std::string::npos);
  // A reader between lines does not stop the next one.
  HANDLE reader = CreateFileW(LogFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_NO_THROW(TFileOperation::WriteLog(L"three"));
  CloseHandle(reader);
}

TEST(FileOperation, RemovedLogFolderComesBackWithItsGrant) {
  TTempDir dir;
  const TLogPaths paths(dir / L"data\\Log");
  TFileOperation::WriteLog(L"before");
  ASSERT_TRUE(kavtest::RemoveTree(dir / L"data"));
  TFileOperation::WriteLog(L"after");
  ExpectGrant(dir / L"data\\Log", true);
  const std::string bytes = kavtest::ReadBytes(LogFile);
  EXPECT_EQ(bytes.find("before"), std::string::npos);
  EXPECT_NE(bytes.find(" after\r\n"), std::string::npos);
}

TEST(FileOperation, RemovedDataFolderIsRestoredBeforeTheNextLine) {
  TTempDir dir;
  const std::wstring savedCommon = CommonAppDataFolder, savedApp = AppDataFolder;
  CommonAppDataFolder = dir.Path() + L"\\";
  AppDataFolder = CommonAppDataFolder + L"KOVA\\App Data\\";
  const TLogPaths paths(AppDataFolder + L"Log");
  TFileOperation::CreateFolder(AppDataFolder, true);
  TFileOperation::WriteLog(L"first");
  ASSERT_TRUE(kavtest::RemoveTree(dir / L"KOVA"));

  RestoreAppDataFolder();
  EXPECT_TRUE(TFileOperation::ExistFolder(AppDataFolder));
  ExpectGrant(ExcludeTrailingPathDelimiter(AppDataFolder), true);
  EXPECT_FALSE(TFileOperation::ExistFolder(LogFolder));  // left to the log line
  TFileOperation::WriteLog(L"second");
  EXPECT_NE(kavtest::ReadBytes(LogFile).find(" second\r\n"), std::string::npos);

  // A log folder outside the all-users data folder is none of its business.
  ASSERT_TRUE(kavtest::RemoveTree(dir / L"KOVA"));
  CommonAppDataFolder = L"C:\\Elsewhere\\";
  RestoreAppDataFolder();
  EXPECT_FALSE(TFileOperation::ExistFolder(AppDataFolder));
  CommonAppDataFolder = savedCommon;
  AppDataFolder = savedApp;
}

TEST(FileOperation, UnwritableLogFolderGivesAnErrorNotACrash) {
  TTempDir dir;
  kavtest::WriteBytes(dir / L"Log", "not a folder");
  const TLogPaths paths(dir / L"Log");
  try {
    TFileOperation::WriteLog(L"lost");
    ADD_FAILURE() << "no error";
  } catch (const EFileOperationError& e) {
    EXPECT_NE(e.Message().find(LogFile), std::wstring::npos);  // names the file
  }
}

TEST(FileOperation, DeleteOldFilesByCreationTimeAndExtension) {
  TTempDir dir;
  for (const wchar_t* name : {L"a_20161201093015.log", L"OLD.LOG", L"notes.txt", L"VersionUp.csv", L"b_Unhandled.log"}) {
    kavtest::WriteBytes(dir / name, "x");
  }
  CreateDirectoryW((dir / L"sub.log").c_str(), nullptr);  // folders are never candidates
  kavtest::WriteBytes(dir / L"sub.log\\inner.log", "x");
  const int64_t now = ReadUtcMilliseconds();

  // New files stay.
  TFileOperation::DeleteOldFilesAt(dir.Path(), 1, L".log", now);
  EXPECT_TRUE(kavtest::FileExists(dir / L"OLD.LOG"));
  // 23 hours later they still stay; a day and a second later the .log files go.
  TFileOperation::DeleteOldFilesAt(dir.Path(), 1, L".log", now + KDayMs - 60 * 60 * 1000);
  EXPECT_TRUE(kavtest::FileExists(dir / L"a_20161201093015.log"));
  // No retention or a negative one never prunes.
  TFileOperation::DeleteOldFilesAt(dir.Path(), 0, L".log", now + 1000 * KDayMs);
  TFileOperation::DeleteOldFilesAt(dir.Path(), -30, L".log", now + 1000 * KDayMs);
  EXPECT_TRUE(kavtest::FileExists(dir / L"a_20161201093015.log"));

  TFileOperation::DeleteOldFilesAt(dir.Path(), 1, L".log", now + KDayMs + 60 * 1000);
  EXPECT_FALSE(kavtest::FileExists(dir / L"a_20161201093015.log"));
  EXPECT_FALSE(kavtest::FileExists(dir / L"OLD.LOG"));
  EXPECT_FALSE(kavtest::FileExists(dir / L"b_Unhandled.log"));
  EXPECT_TRUE(kavtest::FileExists(dir / L"notes.txt"));
  EXPECT_TRUE(kavtest::FileExists(dir / L"VersionUp.csv"));
  EXPECT_TRUE(kavtest::FileExists(dir / L"sub.log\\inner.log"));
}

TEST(FileOperation, DeleteOldFilesSkipsWhatItCannotDelete) {
  TTempDir dir;
  for (const wchar_t* name : {L"1.log", L"2.log", L"3.log", L"4.log"}) kavtest::WriteBytes(dir / name, "x");
  SetFileAttributesW((dir / L"2.log").c_str(), FILE_ATTRIBUTE_READONLY);  // not made writable first
  HANDLE held = CreateFileW((dir / L"3.log").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_NO_THROW(TFileOperation::DeleteOldFilesAt(dir.Path(), 1, L".log", ReadUtcMilliseconds() + 2 * KDayMs));
  CloseHandle(held);
  EXPECT_FALSE(kavtest::FileExists(dir / L"1.log"));
  EXPECT_TRUE(kavtest::FileExists(dir / L"2.log"));
  EXPECT_FALSE(kavtest::FileExists(dir / L"4.log"));  // the pass went on after the failures
  // A missing folder is no error.
  EXPECT_NO_THROW(TFileOperation::DeleteOldFiles(dir / L"missing", 1, L".log"));
}
