#pragma once
// File and folder utilities of the program family. Stateless: every
// operation is static. windows.h is included on purpose: CreateFile and
// DeleteFile are macros there, and every user of this class must see the
// same (renamed) member names.
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/core/FileOperationError.h"

namespace kav {

class TFileOperation {
public:
  TFileOperation() = delete;

  // The file exists (links followed).
  static bool ExistFile(const std::wstring& FileFullPath);
  // The folder exists (links followed).
  static bool ExistFolder(const std::wstring& DirFullPath);

  // Creates the folder with every missing parent; nothing happens when it
  // exists. With AccessRight the local Users group (by its SID, so any
  // Windows language works) gets an inheritable modify grant on this folder
  // only. Creation failures are not reported; an empty path throws
  // EFileOperationError("Unable to create directory").
  static void CreateFolder(const std::wstring& DirFullPath, bool AccessRight);

  // False when the file exists; otherwise creates it empty and returns true.
  // Throws EFileOperationError when it cannot be created.
  static bool CreateFile(const std::wstring& FileFullPath);

  // CreateFolder of the file's folder, then CreateFile.
  static void CreateFileAndFolder(const std::wstring& FileFullPath, bool AccessRight);

  // The folder part of the path with a trailing "\".
  static std::wstring GetFileDir(const std::wstring& FileFullPath);

  // True when the file does not exist or was deleted. With DeleteReadOnly a
  // read-only attribute is cleared first. Throws EFileOperationError with the
  // system's message when access is denied, the file is in use or has gone.
  static bool DeleteFile(const std::wstring& FileFullPath, bool DeleteReadOnly);

  // Appends "yyyy/mm/dd hh:mm:ss:zzz " + LogStr + CR LF in UTF-8 (no
  // byte-order mark) to LogFile, creating LogFolder (with grant) and the file
  // as needed. The file is held only while the line is written.
  // Throws EFileOperationError when the file cannot be opened or written.
  static void WriteLog(const std::wstring& LogStr);

  // Deletes the files directly in DirFullPath whose extension is Ext (any
  // case; empty Ext = all) and which were created more than PreservationDays
  // days ago. 0 or a negative retention deletes nothing. A file that cannot
  // be deleted is skipped; the clean-up never throws.
  static void DeleteOldFiles(const std::wstring& DirFullPath, int32_t PreservationDays,
                             const std::wstring& Ext);
  // DeleteOldFiles as if the clock read NowUtcMs (milliseconds since 1601,
  // UTC): creation times cannot be set back everywhere, the clock can be
  // moved forward in a test.
  static void DeleteOldFilesAt(const std::wstring& DirFullPath, int32_t PreservationDays,
                               const std::wstring& Ext, int64_t NowUtcMs);

  // Gives BUILTIN\Users (S-1-5-32-545) modify rights inherited by files and
  // subfolders, replacing any explicit grant it had. False on failure.
  static bool GrantUsersModify(const std::wstring& DirFullPath);

  // OldDacl with that grant merged in (an explicit Users entry replaced,
  // everything else kept). The caller frees the result with LocalFree;
  // nullptr on failure.
  static PACL MergeUsersModifyGrant(PACL OldDacl);
};

} // namespace kav
