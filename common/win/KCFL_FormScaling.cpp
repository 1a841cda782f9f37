#include "common/win/KCFL_FormScaling.h"

#include "common/win/Handles.h"

namespace kav {

namespace {

// Functions of newer Windows, looked up once (user32 is loaded anyway).
template <typename T> T User32Function(const char* Name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), Name)));
}

int SystemDpi() {
  const TWindowDC screen(nullptr);
  const int dpi = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
  return dpi > 0 ? dpi : 96;
}

} // namespace

int WindowDpi(HWND Wnd) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<TGetDpiForWindow>("GetDpiForWindow");
  if (getDpiForWindow && Wnd) {
    const UINT dpi = getDpiForWindow(Wnd);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

SIZE FrameSize(DWORD Style, DWORD ExStyle, int Dpi) {
  using TAdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = User32Function<TAdjustForDpi>("AdjustWindowRectExForDpi");
  RECT r{0, 0, 100, 100};
  if (adjustForDpi && adjustForDpi(&r, Style, FALSE, ExStyle, static_cast<UINT>(Dpi)))
    return SIZE{r.right - r.left - 100, r.bottom - r.top - 100};
  // Older Windows know only the system's metrics; scale them to Dpi.
  AdjustWindowRectEx(&r, Style, FALSE, ExStyle);
  const int system = SystemDpi();
  return SIZE{MulDiv(r.right - r.left - 100, Dpi, system), MulDiv(r.bottom - r.top - 100, Dpi, system)};
}

void SetClientSize(HWND Wnd, int Width, int Height) {
  RECT outer{}, client{};
  GetWindowRect(Wnd, &outer);
  GetClientRect(Wnd, &client);
  SetWindowPos(Wnd, nullptr, 0, 0, Width + (outer.right - outer.left) - client.right,
               Height + (outer.bottom - outer.top) - client.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HFONT CreateScaledFont(const wchar_t* Face, int DesignHeight, int Weight, int Dpi) {
  return CreateFontW(ScaleForDpi(DesignHeight, Dpi), 0, 0, 0, Weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Face);
}

} // namespace kav
