#include "common/win/WindowClass.h"

namespace kav {

bool RegisterWindowClass(const TWindowClassDef& Def) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, Def.Name, &wc)) return true;
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Def.Proc;
  wc.hInstance = instance;
  wc.lpszClassName = Def.Name;
  wc.hIcon = Def.Icon;
  wc.hIconSm = Def.SmallIcon;
  if (Def.Painted) {
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  }
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace kav
