#include "common/win/MessageBoxSeam.h"

#include <utility>

namespace kav {

namespace {
TMessageBoxHandler& Handler() {
  static TMessageBoxHandler handler;
  return handler;
}

int GOpenBoxes = 0; // boxes are shown on the user-interface thread only
} // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  struct TOpen {
    TOpen() { ++GOpenBoxes; }
    ~TOpen() { --GOpenBoxes; }
  } open;
  if (auto& h = Handler()) return h(owner, text, caption, flags);
  return MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

int OpenMessageBoxCount() noexcept { return GOpenBoxes; }

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}

} // namespace kav
