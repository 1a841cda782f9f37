#include "tests/win/support/FileSystem.h"

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

std::wstring ReadUtf8File(const std::wstring& Path) { return kav::FromUtf8(ReadBytes(Path)); }

bool FileExists(const std::wstring& Path) {
  const DWORD a = GetFileAttributesW(Path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

THeldFile::THeldFile(const std::wstring& Path)
    : FHandle(CreateFileW(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}

THeldFile::~THeldFile() {
  if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
}

TSettingsPath::TSettingsPath(const std::wstring& Path) : TScopedValue(kav::SettingsIniFile, Path) {}

} // namespace kavtest
