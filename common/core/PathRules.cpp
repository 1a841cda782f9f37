#include "common/core/PathRules.h"

namespace kav {

namespace {

bool IsDelimiter(wchar_t c) { return c == L'\\' || c == L'/'; }

// Index just after the last folder delimiter or drive colon.
size_t NameStart(const std::wstring& Path) {
  for (size_t i = Path.size(); i > 0; --i) {
    const wchar_t c = Path[i - 1];
    if (IsDelimiter(c) || c == L':') return i;
  }
  return 0;
}

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

} // namespace

std::wstring ExtractFileName(const std::wstring& FileFullPath) { return FileFullPath.substr(NameStart(FileFullPath)); }

std::wstring ExtractFileExt(const std::wstring& FileFullPath) {
  const std::wstring name = ExtractFileName(FileFullPath);
  const size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

std::wstring GetFileBaseName(const std::wstring& FileFullPath) {
  const std::wstring name = ExtractFileName(FileFullPath);
  const size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring ExtractFileDirWithDelimiter(const std::wstring& FileFullPath) {
  const std::wstring dir = FileFullPath.substr(0, NameStart(FileFullPath));
  return IncludeTrailingPathDelimiter(dir);
}

std::wstring IncludeTrailingPathDelimiter(const std::wstring& Path) {
  if (Path.empty() || IsDelimiter(Path.back())) return Path;
  return Path + L'\\';
}

std::wstring ExcludeTrailingPathDelimiter(const std::wstring& Path) {
  std::wstring result = Path;
  while (!result.empty() && IsDelimiter(result.back())) {
    // Keep the root of a drive ("C:\") and a lone "\".
    if (result.size() == 1 || (result.size() == 3 && result[1] == L':')) break;
    result.pop_back();
  }
  return result;
}

bool SameTextAscii(const std::wstring& A, const std::wstring& B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    if (LowerAscii(A[i]) != LowerAscii(B[i])) return false;
  }
  return true;
}

} // namespace kav
