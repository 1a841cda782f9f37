#pragma once
// Small window helpers of the resident program.
#include <windows.h>

namespace kav {

// Lifts the window above every window that is not top-most and makes it the
// foreground window, without showing it: a hidden window stays hidden.
void BringFormToFront(HWND Form);

// The primary monitor's work area (the screen minus the taskbar).
RECT PrimaryWorkArea();

} // namespace kav
