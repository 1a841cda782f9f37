#pragma once
// The one place where text changes encoding: UTF-16/UTF-32 wide strings in
// memory, UTF-8 in log files and on the Linux side of the tests.
#include <string>

namespace kav {

// Wide text to UTF-8. Unpaired surrogates become U+FFFD.
std::string ToUtf8(const std::wstring& text);

// UTF-8 to wide text (UTF-16 on Windows, UTF-32 elsewhere). Invalid bytes become U+FFFD.
std::wstring FromUtf8(const std::string& text);

} // namespace kav
