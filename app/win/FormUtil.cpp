#include "app/win/FormUtil.h"

namespace kav {

void BringFormToFront(HWND Form) {
  constexpr UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
  SetWindowPos(Form, HWND_TOPMOST, 0, 0, 0, 0, flags);
  SetWindowPos(Form, HWND_NOTOPMOST, 0, 0, 0, 0, flags);
  SetForegroundWindow(Form);
}

int WindowDpi(HWND Wnd) {
  // GetDpiForWindow exists from Windows 10 1607 on; user32 is loaded anyway.
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow && Wnd) {
    const UINT dpi = getDpiForWindow(Wnd);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  HDC dc = GetDC(nullptr);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

RECT PrimaryWorkArea() {
  RECT r{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) {
    r.right = GetSystemMetrics(SM_CXSCREEN);
    r.bottom = GetSystemMetrics(SM_CYSCREEN);
  }
  return r;
}

} // namespace kav
