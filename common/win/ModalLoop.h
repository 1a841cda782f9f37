#pragma once
// Message loops inside the user-interface thread's own: the loop of a modal
// dialog, and a bounded wait that keeps serving messages. Every such loop
// hands a WM_QUIT it meets back to the loop that owns it.
#include <windows.h>

#include <functional>
#include <vector>

namespace kav {

// While a modal dialog is up, the thread's other visible, enabled top-level
// windows take no input, as with any modal dialog. Restore (or the end of the
// scope) enables exactly those again; do it before the dialog goes, so that
// activation returns to one of them.
class TDisabledWindows {
public:
  explicit TDisabledWindows(HWND Dialog);
  ~TDisabledWindows() { Restore(); }
  TDisabledWindows(const TDisabledWindows&) = delete;
  TDisabledWindows& operator=(const TDisabledWindows&) = delete;
  void Restore();

private:
  std::vector<HWND> FWindows;
};

struct TModalHooks {
  // Runs each time the queue has run empty, before the loop waits (the idle pass).
  std::function<void()> Idle;
  // Sees a message before the dialog manager does; true: it has been handled.
  std::function<bool(const MSG&)> PreTranslate;
};

// The message loop of the modal dialog Dialog: dispatches every message of the
// thread (the dialog's keys through IsDialogMessage) until Done() is true.
// Returns false when a WM_QUIT ended it, after posting the quit again.
bool RunModal(HWND Dialog, const std::function<bool()>& Done, const TModalHooks& Hooks = {});

enum class TPumpResult { Done, TimedOut, Quit };
enum class TPumpMessages {
  All,      // every message of the thread is dispatched
  SentOnly, // only messages other threads send: nothing the user does is handled
};

// Waits until Done() is true or, given Wait, that object is signalled (or
// can no longer be waited on), for at most TimeoutMs, while dispatching the
// thread's messages (Which). A WM_QUIT ends the wait (Quit) and is posted
// again for the outer loop.
TPumpResult PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs, TPumpMessages Which = TPumpMessages::All,
                      HANDLE Wait = nullptr);

} // namespace kav
