#include "common/win/MessageBoxSeam.h"

#include <utility>

namespace kav {

namespace {
TMessageBoxHandler& Handler() {
  static TMessageBoxHandler handler;
  return handler;
}
} // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  if (auto& h = Handler()) return h(owner, text, caption, flags);
  return MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}

} // namespace kav
