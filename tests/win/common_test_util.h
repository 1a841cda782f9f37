#pragma once
// Helpers of the support-library and settings tests under Wine: throw-away
// folders, raw file bytes, code-page text, the Users grant, window texts.
#include <windows.h>
#include <aclapi.h>

#include <fstream>
#include <iterator>
#include <string>

#include "common/core/TextUtil.h"
#include "common/win/KCL_AppData.h"

namespace kavtest {

inline bool RemoveTree(const std::wstring& Path) {
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((Path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = Path + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  SetFileAttributesW(Path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return RemoveDirectoryW(Path.c_str()) != 0;
}

// A fresh folder under the temporary folder, removed with its contents at the end.
class TTempDir {
public:
  explicit TTempDir(const std::wstring& Prefix = L"kav test ") {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    FPath = std::wstring(temp) + Prefix + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(++Counter());
    CreateDirectoryW(FPath.c_str(), nullptr);
  }
  ~TTempDir() { RemoveTree(FPath); }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  // Without trailing delimiter.
  const std::wstring& Path() const { return FPath; }
  std::wstring operator/(const std::wstring& Name) const { return FPath + L"\\" + Name; }

private:
  static int& Counter() {
    static int n = 0;
    return n;
  }
  std::wstring FPath;
};

// A window's text, whole whatever its length.
inline std::wstring WindowText(HWND Window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(Window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(Window, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline std::string ReadBytes(const std::wstring& Path) {
  std::ifstream in(Path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::wstring& Path, const std::string& Bytes) {
  std::ofstream out(Path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

// Wide text in a given code page (932 = Shift-JIS).
inline std::string ToCodePage(const std::wstring& Text, UINT CodePage) {
  if (Text.empty()) return std::string();
  const int n = WideCharToMultiByte(CodePage, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CodePage, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

inline bool FileExists(const std::wstring& Path) {
  const DWORD a = GetFileAttributesW(Path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool FolderExists(const std::wstring& Path) {
  const DWORD a = GetFileAttributesW(Path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Holds a file open without sharing, so that every other open fails (a
// refused write that works even where read-only files are writable, as
// for root under Wine).
class THeldFile {
public:
  explicit THeldFile(const std::wstring& Path)
      : FHandle(CreateFileW(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~THeldFile() {
    if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
  }
  THeldFile(const THeldFile&) = delete;
  THeldFile& operator=(const THeldFile&) = delete;
  bool Held() const { return FHandle != INVALID_HANDLE_VALUE; }

private:
  HANDLE FHandle;
};

// Whether the platform refuses writing a read-only file (Wine run by root does not).
inline bool ReadOnlyIsEnforced(const std::wstring& ReadOnlyFile) {
  HANDLE h = CreateFileW(ReadOnlyFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;
  CloseHandle(h);
  return false;
}

// Whether a DACL holds an explicit entry allowing BUILTIN\Users
// (S-1-5-32-545) modify rights inherited by files and subfolders; Count gets
// the number of explicit Users entries.
inline bool DaclHasUsersModifyGrant(PACL Dacl, int* Count = nullptr) {
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
inline bool HasUsersModifyGrant(const std::wstring& Path) {
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
inline bool FileAclsAreKept() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

// A UTF-8 text file (a log, say) as wide text; empty when it cannot be read.
// Shares read and write so a file the program under test holds can be read.
inline std::wstring ReadUtf8File(const std::wstring& Path) {
  HANDLE f = CreateFileW(Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) bytes.append(buf, got);
  CloseHandle(f);
  return kav::FromUtf8(bytes);
}

// Points SettingsIniFile at a file for the life of the object.
class TSettingsPath {
public:
  explicit TSettingsPath(const std::wstring& Path) : FOld(kav::SettingsIniFile) { kav::SettingsIniFile = Path; }
  ~TSettingsPath() { kav::SettingsIniFile = FOld; }
  TSettingsPath(const TSettingsPath&) = delete;
  TSettingsPath& operator=(const TSettingsPath&) = delete;

private:
  std::wstring FOld;
};

} // namespace kavtest
