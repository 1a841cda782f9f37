#include "common/win/KCL_AppData.h"

#include <windows.h>
#include <shlobj.h>

#include "common/win/KCL_Clock.h"
#include "common/win/KCL_FileOperation.h"

namespace kav {

std::wstring ExeBaseName;
std::wstring ProgramFolder;
std::wstring UserProfileFolder;
std::wstring CommonAppDataFolder;
std::wstring LocalAppDataFolder;
std::wstring CommonVendorFolder;
std::wstring LocalVendorFolder;
std::wstring AppDataFolder;
std::wstring UserSettingsFolder;
std::wstring LogFolder;
std::wstring SettingsIniFile;
std::wstring LogFile;
std::wstring UnhandledLogFile;

namespace {

constexpr wchar_t KVendorName[] = L"KOVA";

// A shell folder by its CSIDL with a trailing delimiter; "\" when unresolved.
std::wstring ShellFolder(int Csidl) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, Csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) buffer[0] = L'\0';
  return buffer[0] == L'\0' ? std::wstring(L"\\") : IncludeTrailingPathDelimiter(buffer);
}

// Folder + Name + "\"
std::wstring SubFolder(const std::wstring& Folder, const std::wstring& Name) {
  return IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(Folder) + Name);
}

bool StartsWithNoCase(const std::wstring& Text, const std::wstring& Prefix) {
  return !Prefix.empty() && Text.size() >= Prefix.size() && SameTextAscii(Text.substr(0, Prefix.size()), Prefix);
}

} // namespace

std::wstring GetExeFullPath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

void InitAppFolders(const std::wstring& ExeFullPath, const std::wstring& ModelName, const std::wstring& AppName) {
  ProgramFolder = TFileOperation::GetFileDir(ExeFullPath);
  UserProfileFolder = ShellFolder(CSIDL_PROFILE);
  CommonAppDataFolder = ShellFolder(CSIDL_COMMON_APPDATA);
  LocalAppDataFolder = ShellFolder(CSIDL_LOCAL_APPDATA);
  CommonVendorFolder = SubFolder(CommonAppDataFolder, KVendorName);
  LocalVendorFolder = SubFolder(LocalAppDataFolder, KVendorName);
  AppDataFolder = SubFolder(SubFolder(CommonVendorFolder, ModelName), AppName);
  UserSettingsFolder = SubFolder(SubFolder(LocalVendorFolder, ModelName), AppName);
  LogFolder = SubFolder(AppDataFolder, L"Log");
}

void UseFixedAppDataFolder() {
  AppDataFolder = SubFolder(CommonVendorFolder, KAppDataFolderName);
  LogFolder = SubFolder(AppDataFolder, L"Log");
}

void InitLogFilePaths(const std::wstring& BaseName) {
  // Each name takes its own clock reading, as the two may be a second apart
  // only in the rarest case and nothing relies on them matching.
  LogFile = BuildLogFileName(LogFolder, BaseName, FormatFileStamp(ReadLocalTime()), L"");
  UnhandledLogFile = BuildLogFileName(LogFolder, BaseName, FormatFileStamp(ReadLocalTime()), L"_Unhandled");
}

void InitIniFilePaths(const std::wstring& BaseName, bool /*UseSharedWorkingDirectory*/) {
  SettingsIniFile = IncludeTrailingPathDelimiter(AppDataFolder) + BaseName + L".ini";
}

void RestoreAppDataFolder() {
  try {
    if (AppDataFolder.empty() || TFileOperation::ExistFolder(AppDataFolder)) return;
    if (!StartsWithNoCase(LogFolder, CommonAppDataFolder)) return;
    TFileOperation::CreateFolder(AppDataFolder, true);
  } catch (...) {
    // Housekeeping only: the log line that follows reports its own failure.
  }
}

} // namespace kav
