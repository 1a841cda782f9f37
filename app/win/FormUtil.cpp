#include "app/win/FormUtil.h"

namespace kav {

void BringFormToFront(HWND Form) {
  constexpr UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
  SetWindowPos(Form, HWND_TOPMOST, 0, 0, 0, 0, flags);
  SetWindowPos(Form, HWND_NOTOPMOST, 0, 0, 0, 0, flags);
  SetForegroundWindow(Form);
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
