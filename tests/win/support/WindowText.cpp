#include "tests/win/support/WindowText.h"

namespace kavtest {

std::wstring WindowText(HWND Window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(Window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(Window, text.data(), static_cast<int>(text.size()))));
  return text;
}

} // namespace kavtest
