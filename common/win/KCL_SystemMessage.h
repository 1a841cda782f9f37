#pragma once
// The system's text for an error code.
#include <windows.h>

#include <string>

namespace kav {

// FormatMessage text of Code without the trailing line break; "エラー N" when
// the system has none.
std::wstring SystemErrorMessage(DWORD Code);

} // namespace kav
