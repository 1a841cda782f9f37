#pragma once
// A window's text as a string (WM_GETTEXT, whatever its length).
#include <windows.h>

#include <string>

namespace kav {

std::wstring WindowText(HWND Wnd);

} // namespace kav
