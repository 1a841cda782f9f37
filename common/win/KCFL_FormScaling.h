#pragma once
// Per-monitor DPI for the program's forms: they are designed in pixels at
// 96 dots per inch, and the program declares itself per-monitor DPI aware,
// so Windows scales nothing for it. Each form scales its positions, sizes
// and fonts by the DPI of the monitor it is on, and again when it moves to
// a monitor of another DPI (WM_DPICHANGED).
#include <windows.h>

#include "common/core/DpiScale.h"

namespace kav {

// Dots per inch the window is drawn at (the system's when the window's own
// value cannot be asked, before Windows 10 1607).
int WindowDpi(HWND Wnd);

// Width and height that a window's frame (caption bar and borders) adds to
// its client area at Dpi.
SIZE FrameSize(DWORD Style, DWORD ExStyle, int Dpi);

// Resizes the window (keeping its place) so that its client area is Width x
// Height, with the frame that the window has now (which is the new DPI's
// frame already when WM_DPICHANGED arrives).
void SetClientSize(HWND Wnd, int Width, int Height);

// A font whose height is DesignHeight pixels at 96 dpi (negative: the
// character height without internal leading, as in a LOGFONT), at Dpi.
HFONT CreateScaledFont(const wchar_t* Face, int DesignHeight, int Weight, int Dpi);

} // namespace kav
