#pragma once
// A window's text as a person or a screen reader gets it (WM_GETTEXT).
#include <windows.h>

#include <string>

namespace kavtest {

// A window's text, whole whatever its length.
std::wstring WindowText(HWND Window);

} // namespace kavtest
