#pragma once
// A message-only window owned by the UI thread: target of the serial watcher's
// hand-overs, of the device link's timer and of a second start's status
// reply. Its window procedure lets no exception escape (they go to the
// application-wide callback handler; the sender then gets 0).
#include <windows.h>

#include <functional>

namespace kav {

class TMessageOnlyWindow {
public:
  // Return true when the message was handled; Result is then the answer.
  using THandler = std::function<bool(UINT Msg, WPARAM wParam, LPARAM lParam, LRESULT& Result)>;

  explicit TMessageOnlyWindow(THandler Handler);
  ~TMessageOnlyWindow();
  TMessageOnlyWindow(const TMessageOnlyWindow&) = delete;
  TMessageOnlyWindow& operator=(const TMessageOnlyWindow&) = delete;

  HWND Handle() const noexcept { return FWnd; }

private:
  LRESULT HandleMessage(UINT Msg, WPARAM wParam, LPARAM lParam);

  THandler FHandler;
  HWND FWnd = nullptr;
};

} // namespace kav
