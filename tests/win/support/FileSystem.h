#pragma once
// Files and folders for the Win32 tests: throw-away folders, raw file bytes,
// code-page text, files held by "another program", and the settings file's
// path pointed elsewhere.
#include <windows.h>

#include <string>

#include "tests/win/support/ScopedValue.h"

namespace kavtest {

// Removes a folder with everything in it, read-only files too.
bool RemoveTree(const std::wstring& Path);

// A fresh folder under the temporary folder, removed with its contents at the end.
class TTempDir {
public:
  explicit TTempDir(const std::wstring& Prefix = L"kav test ");
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  // Without trailing delimiter.
  const std::wstring& Path() const { return FPath; }
  std::wstring operator/(const std::wstring& Name) const { return FPath + L"\\" + Name; }

private:
  std::wstring FPath;
};

// A file's bytes; empty when it cannot be read. Shares read and write, so a
// file the program under test holds open can be read.
std::string ReadBytes(const std::wstring& Path);
// Replaces a file's content with Bytes.
void WriteBytes(const std::wstring& Path, const std::string& Bytes);
// Wide text in a given code page (932 = Shift-JIS, CP_ACP = the system's).
std::string ToCodePage(const std::wstring& Text, UINT CodePage);
// Text in a given code page as wide text.
std::wstring FromCodePage(const std::string& Text, UINT CodePage);
// A UTF-8 text file (a log, say) as wide text; empty when it cannot be read.
std::wstring ReadUtf8File(const std::wstring& Path);

// Whether Path names a file (not a folder).
bool FileExists(const std::wstring& Path);

// Holds a file open without sharing, so that every other open fails (a
// refused write that works even where read-only files are writable, as
// for root under Wine).
class THeldFile {
public:
  explicit THeldFile(const std::wstring& Path);
  ~THeldFile();
  THeldFile(const THeldFile&) = delete;
  THeldFile& operator=(const THeldFile&) = delete;
  bool Held() const { return FHandle != INVALID_HANDLE_VALUE; }

private:
  HANDLE FHandle;
};

// Points SettingsIniFile at a file for the life of the object.
class TSettingsPath : public TScopedValue<std::wstring> {
public:
  explicit TSettingsPath(const std::wstring& Path);
};

} // namespace kavtest
