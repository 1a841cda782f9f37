#pragma once
// Path text rules shared by the folder set-up and the log pruning. Pure text:
// nothing here touches the file system. Windows paths; both "\" and "/" are
// taken as delimiters when splitting, "\" is the one that is appended.
#include <string>

namespace kav {

// The file name without folder and without its last extension:
// C:\x\a.b.exe gives a.b; a name without extension is returned whole.
std::wstring GetFileBaseName(const std::wstring& FileFullPath);

// The file name with its extension, without the folder.
std::wstring ExtractFileName(const std::wstring& FileFullPath);

// The extension of the file name including its dot (".log"), or empty text.
std::wstring ExtractFileExt(const std::wstring& FileFullPath);

// The folder part of a path, ending with "\" (empty text when there is none).
std::wstring ExtractFileDirWithDelimiter(const std::wstring& FileFullPath);

// The path with a trailing "\" added when it does not end with one.
// Empty text stays empty.
std::wstring IncludeTrailingPathDelimiter(const std::wstring& Path);

// The path without trailing delimiters, except for a drive root ("C:\").
std::wstring ExcludeTrailingPathDelimiter(const std::wstring& Path);

// Equality of two texts ignoring the case of ASCII letters.
bool SameTextAscii(const std::wstring& A, const std::wstring& B);

} // namespace kav
