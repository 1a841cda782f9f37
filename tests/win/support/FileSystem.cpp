#include "tests/win/support/FileSystem.h"

#include <aclapi.h>

#include <fstream>
#include <iterator>

#include "common/core/TextUtil.h"
#include "common/win/KCL_AppData.h"

namespace kavtest {

bool RemoveTree(const std::wstring& Path) {
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

TTempDir::TTempDir(const std::wstring& Prefix) {
  static int counter = 0;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  FPath = std::wstring(temp) + Prefix + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(++counter);
  CreateDirectoryW(FPath.c_str(), nullptr);
}

TTempDir::~TTempDir() { RemoveTree(FPath); }

std::string ReadBytes(const std::wstring& Path) {
  std::ifstream in(Path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring& Path, const std::string& Bytes) {
  std::ofstream out(Path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

std::string ToCodePage(const std::wstring& Text, UINT CodePage) {
  if (Text.empty()) return std::string();
  const int n = WideCharToMultiByte(CodePage, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CodePage, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring FromCodePage(const std::string& Text, UINT CodePage) {
  if (Text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CodePage, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CodePage, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n);
  return out;
}

std::wstring ReadUtf8File(const std::wstring& Path) {
  HANDLE f = CreateFileW(Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) bytes.append(buf, got);
  CloseHandle(f);
  return kav::FromUtf8(bytes);
}

bool FileExists(const std::wstring& Path) {
  const DWORD a = GetFileAttributesW(Path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& Path) {
  const DWORD a = GetFileAttributesW(Path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

THeldFile::THeldFile(const std::wstring& Path)
    : FHandle(CreateFileW(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}

THeldFile::~THeldFile() {
  if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
}

bool ReadOnlyIsEnforced(const std::wstring& ReadOnlyFile) {
  HANDLE h = CreateFileW(ReadOnlyFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;
  CloseHandle(h);
  return false;
}

bool DaclHasUsersModifyGrant(PACL Dacl, int* Count) {
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

bool FileAclsAreKept() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

TSettingsPath::TSettingsPath(const std::wstring& Path) : TScopedValue(kav::SettingsIniFile, Path) {}

} // namespace kavtest
