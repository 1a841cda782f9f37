#pragma once
// Process-wide path values of the program family: shell folders, the
// program's data folder, settings file, log folder and log files. Set once
// during start-up (tests may set them freely); every folder value ends with "\".
#include <string>

#include "common/core/PathRules.h"

namespace kav {

extern std::wstring ExeBaseName;          // set by TVersionInfo's constructor
extern std::wstring ProgramFolder;        // folder of the executable
extern std::wstring UserProfileFolder;    // CSIDL_PROFILE
extern std::wstring CommonAppDataFolder;  // CSIDL_COMMON_APPDATA (C:\ProgramData\ on a typical system)
extern std::wstring LocalAppDataFolder;   // CSIDL_LOCAL_APPDATA
extern std::wstring CommonVendorFolder;   // CommonAppDataFolder + "KOVA\"
extern std::wstring LocalVendorFolder;    // LocalAppDataFolder + "KOVA\"
extern std::wstring AppDataFolder;        // the program's data folder
extern std::wstring UserSettingsFolder;   // per-user settings folder (unused here)
extern std::wstring LogFolder;            // AppDataFolder + "Log\"
extern std::wstring SettingsIniFile;      // AppDataFolder + base name + ".ini"
extern std::wstring LogFile;              // this run's log file
extern std::wstring UnhandledLogFile;     // this run's unhandled-error log

// The fixed name of the program's data folder below CommonVendorFolder.
inline constexpr wchar_t KAppDataFolderName[] = L"KAV90R_HotKeyController";

// Full path of the running executable.
std::wstring GetExeFullPath();

// Computes ProgramFolder, the shell folders, the vendor folders, a first
// AppDataFolder (CommonVendorFolder + ModelName\AppName\) and LogFolder.
// A shell folder that cannot be resolved becomes "\".
void InitAppFolders(const std::wstring& ExeFullPath, const std::wstring& ModelName,
                    const std::wstring& AppName);

// Sets AppDataFolder to CommonVendorFolder + KAppDataFolderName + "\" and
// LogFolder below it (the program's fixed data folder).
void UseFixedAppDataFolder();

// Computes LogFile and UnhandledLogFile from LogFolder, BaseName and the clock.
void InitLogFilePaths(const std::wstring& BaseName);

// Computes SettingsIniFile = AppDataFolder + BaseName + ".ini". A shared
// working directory (UseSharedWorkingDirectory) is not used by this program
// and is ignored.
void InitIniFilePaths(const std::wstring& BaseName, bool UseSharedWorkingDirectory);

// Re-creates AppDataFolder with its Users grant when it has gone and LogFolder
// lies below CommonAppDataFolder, so a removed data folder comes back with
// its grant before the next log line creates LogFolder inside it.
// Reports nothing.
void RestoreAppDataFolder();

} // namespace kav
