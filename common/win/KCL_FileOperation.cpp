#include "common/win/KCL_FileOperation.h"

#include <aclapi.h>

#include "common/core/LogRules.h"
#include "common/core/PathRules.h"
#include "common/core/TextUtil.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_Clock.h"
#include "common/win/Handles.h"
#include "common/win/KCL_SystemMessage.h"

namespace kav {

namespace {

// icacls' (M): read, write, execute and delete.
constexpr DWORD KModifyRights = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;

DWORD Attributes(const std::wstring& Path) { return GetFileAttributesW(Path.c_str()); }

// Creates Dir and its missing parents; true when it exists afterwards.
bool ForceDirectories(const std::wstring& Dir) {
  const std::wstring path = ExcludeTrailingPathDelimiter(Dir);
  if (path.empty()) return false;
  const DWORD attrs = Attributes(path);
  if (attrs != INVALID_FILE_ATTRIBUTES) return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::wstring parent = ExcludeTrailingPathDelimiter(ExtractFileDirWithDelimiter(path));
  // Stop at a drive root, a share root or a bare name: nothing above to create.
  if (!parent.empty() && parent != path && parent.back() != L':' && parent.back() != L'\\') {
    ForceDirectories(parent);
  }
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS && TFileOperation::ExistFolder(path);
}

int64_t FileTimeToMilliseconds(const FILETIME& Time) {
  const uint64_t ticks = (static_cast<uint64_t>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000);
}

} // namespace

bool TFileOperation::ExistFile(const std::wstring& FileFullPath) {
  if (FileFullPath.empty()) return false;
  const DWORD attrs = Attributes(FileFullPath);
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool TFileOperation::ExistFolder(const std::wstring& DirFullPath) {
  if (DirFullPath.empty()) return false;
  const DWORD attrs = Attributes(DirFullPath);
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void TFileOperation::CreateFolder(const std::wstring& DirFullPath, bool AccessRight) {
  if (DirFullPath.empty()) throw EFileOperationError(L"Unable to create directory");
  if (ExistFolder(DirFullPath)) return;
  if (!ForceDirectories(DirFullPath)) return;  // not reported: the next file operation in it fails
  if (AccessRight) GrantUsersModify(DirFullPath);
}

PACL TFileOperation::MergeUsersModifyGrant(PACL OldDacl) {
  // By well-known SID rather than the group's name, which is localised.
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID users = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0,
                                0, 0, &users)) {
    return nullptr;
  }
  EXPLICIT_ACCESS_W access{};
  access.grfAccessPermissions = KModifyRights;
  access.grfAccessMode = SET_ACCESS;  // replaces an explicit grant Users had, like icacls /grant:r
  access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(users);
  PACL newDacl = nullptr;
  if (SetEntriesInAclW(1, &access, OldDacl, &newDacl) != ERROR_SUCCESS) newDacl = nullptr;
  FreeSid(users);
  return newDacl;
}

bool TFileOperation::GrantUsersModify(const std::wstring& DirFullPath) {
  const std::wstring path = ExcludeTrailingPathDelimiter(DirFullPath);
  PACL oldDacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const TLocalMemory descriptorOwner(descriptor);
  const PACL newDacl = MergeUsersModifyGrant(oldDacl);
  if (newDacl == nullptr) return false;
  const TLocalMemory daclOwner(newDacl);
  return SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                               nullptr, newDacl, nullptr) == ERROR_SUCCESS;
}

bool TFileOperation::CreateFile(const std::wstring& FileFullPath) {
  if (ExistFile(FileFullPath)) return false;
  TKernelHandle file(::CreateFileW(FileFullPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS) return false;
    throw EFileOperationError(L"ファイル \"" + FileFullPath + L"\" を作成できません。" + SystemErrorMessage(error));
  }
  return true;
}

void TFileOperation::CreateFileAndFolder(const std::wstring& FileFullPath, bool AccessRight) {
  CreateFolder(GetFileDir(FileFullPath), AccessRight);
  CreateFile(FileFullPath);
}

std::wstring TFileOperation::GetFileDir(const std::wstring& FileFullPath) {
  return ExtractFileDirWithDelimiter(FileFullPath);
}

bool TFileOperation::DeleteFile(const std::wstring& FileFullPath, bool DeleteReadOnly) {
  if (!ExistFile(FileFullPath)) return true;
  if (DeleteReadOnly) {
    const DWORD attrs = Attributes(FileFullPath);
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) != 0) {
      SetFileAttributesW(FileFullPath.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
  }
  if (::DeleteFileW(FileFullPath.c_str())) return true;
  const DWORD error = GetLastError();
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      throw EFileOperationError(L"ファイル \"" + FileFullPath + L"\" を削除できません。" + SystemErrorMessage(error));
    default:
      return false;
  }
}

void TFileOperation::WriteLog(const std::wstring& LogStr) {
  CreateFolder(LogFolder, true);
  const std::string bytes = ToUtf8(FormatLogLine(ReadLocalTime(), LogStr));
  // Appending access puts every write at the current end of the file; readers
  // may look at the file meanwhile, other writers wait for the next line.
  TKernelHandle file(::CreateFileW(LogFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    throw EFileOperationError(L"ファイル \"" + LogFile + L"\" を開けません。" + SystemErrorMessage(error));
  }
  DWORD written = 0;
  if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    const DWORD error = GetLastError();
    throw EFileOperationError(L"ファイル \"" + LogFile + L"\" に書き込めません。" + SystemErrorMessage(error));
  }
}

void TFileOperation::DeleteOldFiles(const std::wstring& DirFullPath, int32_t PreservationDays,
                                    const std::wstring& Ext) {
  DeleteOldFilesAt(DirFullPath, PreservationDays, Ext, ReadUtcMilliseconds());
}

void TFileOperation::DeleteOldFilesAt(const std::wstring& DirFullPath, int32_t PreservationDays,
                                      const std::wstring& Ext, int64_t NowUtcMs) {
  try {
    if (PreservationDays <= 0 || !ExistFolder(DirFullPath)) return;
    const std::wstring dir = IncludeTrailingPathDelimiter(DirFullPath);
    WIN32_FIND_DATAW data{};
    TFindHandle find(FindFirstFileW((dir + L"*").c_str(), &data));
    if (!find) return;
    do {
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
      const std::wstring name = data.cFileName;
      if (!ShouldPruneFile(name, Ext, FileTimeToMilliseconds(data.ftCreationTime), NowUtcMs,
                           PreservationDays)) continue;
      try {
        DeleteFile(dir + name, false);
      } catch (const EFileOperationError&) {
        // In use or protected: keep it and go on with the others.
      }
    } while (FindNextFileW(find.Get(), &data));
  } catch (...) {
    // Housekeeping must never stop the caller.
  }
}

} // namespace kav
