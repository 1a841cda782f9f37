#include "common/win/IniFile.h"

#include <windows.h>

#include <utility>

#include "common/core/PathRules.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_VersionInfo.h"
#include "common/win/MessageBoxSeam.h"
#include "common/core/IniValue.h"

namespace kav {

namespace {

std::wstring FullPath(const std::wstring& FileName) {
  if (FileName.empty()) return FileName;
  const DWORD length = GetFullPathNameW(FileName.c_str(), 0, nullptr, nullptr);
  if (length == 0) return FileName;
  std::wstring buffer(length, L'\0');
  const DWORD written = GetFullPathNameW(FileName.c_str(), length, buffer.data(), nullptr);
  if (written == 0 || written >= length) return FileName;
  buffer.resize(written);
  return buffer;
}

TIniWriteErrorHandler& WriteErrorHandler() {
  static TIniWriteErrorHandler handler;
  return handler;
}

} // namespace

TIniFile::TIniFile(const std::wstring& FileName) : FFileName(FullPath(FileName)) {}

std::vector<std::wstring> TIniFile::ReadSection(const std::wstring& Section) const {
  std::vector<std::wstring> keys;
  if (FFileName.empty()) return keys;
  // The key list comes back as names separated by NULs; grow until it fits.
  std::vector<wchar_t> buffer(4096);
  for (;;) {
    const DWORD length = GetPrivateProfileStringW(Section.c_str(), nullptr, L"", buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), FFileName.c_str());
    if (length + 2 < buffer.size() || buffer.size() >= (1u << 24)) {
      size_t start = 0;
      for (size_t i = 0; i < length; ++i) {
        if (buffer[i] == L'\0') {
          if (i > start) keys.emplace_back(buffer.data() + start, i - start);
          start = i + 1;
        }
      }
      if (start < length) keys.emplace_back(buffer.data() + start, length - start);
      return keys;
    }
    buffer.resize(buffer.size() * 4);
  }
}

bool TIniFile::SectionExists(const std::wstring& Section) const { return !ReadSection(Section).empty(); }

bool TIniFile::ValueExists(const std::wstring& Section, const std::wstring& Ident) const {
  for (const auto& key : ReadSection(Section)) {
    if (SameTextAscii(key, Ident)) return true;
  }
  return false;
}

std::wstring TIniFile::ReadString(const std::wstring& Section, const std::wstring& Ident,
                                  const std::wstring& Default) const {
  if (FFileName.empty()) return Default;
  // The platform hands back the default for a missing key, cut to the buffer.
  wchar_t buffer[KIniMaxValueLength + 1] = {};
  const DWORD length = GetPrivateProfileStringW(Section.c_str(), Ident.c_str(), Default.c_str(), buffer,
                                                static_cast<DWORD>(KIniMaxValueLength + 1), FFileName.c_str());
  std::wstring value(buffer, length);
  if (Default.size() > KIniMaxValueLength && value == Default.substr(0, value.size()) &&
      !ValueExists(Section, Ident)) {
    return Default;  // a long default is given back whole, not cut to the buffer
  }
  return value;
}

int32_t TIniFile::ReadInteger(const std::wstring& Section, const std::wstring& Ident, int32_t Default) const {
  return IniTextToInteger(ReadString(Section, Ident, L""), Default);
}

bool TIniFile::ReadBool(const std::wstring& Section, const std::wstring& Ident, bool Default) const {
  return IniTextToBool(ReadString(Section, Ident, L""), Default);
}

void TIniFile::WriteString(const std::wstring& Section, const std::wstring& Ident, const std::wstring& Value) {
  if (FFileName.empty() ||
      !WritePrivateProfileStringW(Section.c_str(), Ident.c_str(), Value.c_str(), FFileName.c_str())) {
    throw EIniWriteError(FFileName);
  }
}

void TIniFile::WriteInteger(const std::wstring& Section, const std::wstring& Ident, int32_t Value) {
  WriteString(Section, Ident, IniIntegerToText(Value));
}

void TIniFile::WriteBool(const std::wstring& Section, const std::wstring& Ident, bool Value) {
  WriteString(Section, Ident, IniBoolToText(Value));
}

void TIniFile::DeleteKey(const std::wstring& Section, const std::wstring& Ident) {
  if (FFileName.empty() || !WritePrivateProfileStringW(Section.c_str(), Ident.c_str(), nullptr, FFileName.c_str())) {
    throw EIniWriteError(FFileName);
  }
}

void TIniFile::EraseSection(const std::wstring& Section) {
  if (FFileName.empty() || !WritePrivateProfileStringW(Section.c_str(), nullptr, nullptr, FFileName.c_str())) {
    throw EIniWriteError(FFileName);
  }
}

TIniWriteErrorHandler SetIniWriteErrorHandler(TIniWriteErrorHandler Handler) {
  return std::exchange(WriteErrorHandler(), std::move(Handler));
}

void ReportIniWriteError(const EIniWriteError& Error) noexcept {
  try {
    if (const auto& handler = WriteErrorHandler()) {
      handler(Error);
      return;
    }
    // No handler: show it, captioned like the program's other boxes.
    std::wstring caption;
    if (const auto resource = TVersionInfo::ReadResource(GetExeFullPath())) caption = resource->Find(L"ProductName");
    if (caption.empty()) caption = ExeBaseName;
    ShowMessageBox(nullptr, Error.Message(), caption, MB_OK | MB_ICONERROR | MB_TOPMOST);
  } catch (...) {
    // Reporting must not throw from a destructor.
  }
}

} // namespace kav
