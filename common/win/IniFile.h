#pragma once
// One INI file through the platform's private-profile functions: nothing is
// cached, every read sees the file as it is now and every write goes to the
// file at once. Text in the file is in the system's ANSI code page.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/core/IniWriteError.h"

namespace kav {

class TIniFile {
public:
  // FileName is made a full path (the private-profile functions would
  // otherwise look in the Windows folder).
  explicit TIniFile(const std::wstring& FileName);

  const std::wstring& FileName() const noexcept { return FFileName; }

  // A section exists when it holds at least one key.
  bool SectionExists(const std::wstring& Section) const;
  // The section lists the key (names compared without case).
  bool ValueExists(const std::wstring& Section, const std::wstring& Ident) const;
  // Key names of a section, in file order.
  std::vector<std::wstring> ReadSection(const std::wstring& Section) const;

  // Stored text (up to 2047 characters), or Default when the key is missing.
  std::wstring ReadString(const std::wstring& Section, const std::wstring& Ident,
                          const std::wstring& Default) const;
  // Stored text as a 32-bit integer; missing, empty or unconvertible gives Default.
  int32_t ReadInteger(const std::wstring& Section, const std::wstring& Ident,
                      int32_t Default) const;
  // Integer with default 1/0; any non-zero value is true.
  bool ReadBool(const std::wstring& Section, const std::wstring& Ident, bool Default) const;

  // Writes throw EIniWriteError when the platform refuses them; what was
  // written before stays written.
  void WriteString(const std::wstring& Section, const std::wstring& Ident, const std::wstring& Value);
  void WriteInteger(const std::wstring& Section, const std::wstring& Ident, int32_t Value);
  void WriteBool(const std::wstring& Section, const std::wstring& Ident, bool Value);

  // Removes one key / a whole section. Throw EIniWriteError when refused.
  void DeleteKey(const std::wstring& Section, const std::wstring& Ident);
  void EraseSection(const std::wstring& Section);

private:
  std::wstring FFileName;
};

// Saves that run where no exception may leave (destructors of objects that
// save themselves) hand a refused write to ReportIniWriteError. Without an
// installed handler it is shown in an error message box (through the
// message-box seam) with the program's product name as caption.
using TIniWriteErrorHandler = std::function<void(const EIniWriteError&)>;

// Installs a handler (an empty one restores the message box); returns the previous one.
TIniWriteErrorHandler SetIniWriteErrorHandler(TIniWriteErrorHandler Handler);

// Reports a refused write that could not be thrown to a caller. Never throws.
void ReportIniWriteError(const EIniWriteError& Error) noexcept;

} // namespace kav
