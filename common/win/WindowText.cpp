#include "common/win/WindowText.h"

namespace kav {

std::wstring WindowText(HWND Wnd) {
  const int len = GetWindowTextLengthW(Wnd);
  if (len <= 0) return {};
  std::wstring text(static_cast<std::size_t>(len) + 1, L'\0');
  const int got = GetWindowTextW(Wnd, text.data(), len + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

} // namespace kav
