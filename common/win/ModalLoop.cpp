#include "common/win/ModalLoop.h"

#include <utility>

namespace kav {

namespace {

BOOL CALLBACK DisableThreadWindow(HWND Wnd, LPARAM Param) {
  auto* state = reinterpret_cast<std::pair<HWND, std::vector<HWND>*>*>(Param);
  if (Wnd != state->first && IsWindowVisible(Wnd) && IsWindowEnabled(Wnd)) state->second->push_back(Wnd);
  return TRUE;
}

} // namespace

TDisabledWindows::TDisabledWindows(HWND Dialog) {
  std::pair<HWND, std::vector<HWND>*> state{Dialog, &FWindows};
  EnumThreadWindows(GetCurrentThreadId(), &DisableThreadWindow, reinterpret_cast<LPARAM>(&state));
  for (HWND wnd : FWindows) EnableWindow(wnd, FALSE);
}

void TDisabledWindows::Restore() {
  for (HWND wnd : FWindows)
    if (IsWindow(wnd)) EnableWindow(wnd, TRUE);
  FWindows.clear();
}

bool RunModal(HWND Dialog, const std::function<bool()>& Done, const TModalHooks& Hooks) {
  MSG msg;
  while (!Done()) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (Hooks.Idle) {
        Hooks.Idle();
        if (Done()) break;
      }
      WaitMessage();
      continue;
    }
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (Hooks.PreTranslate && Hooks.PreTranslate(msg)) continue;
    if (!IsDialogMessageW(Dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

TPumpResult PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs, TPumpMessages Which, HANDLE Wait) {
  const ULONGLONG deadline = GetTickCount64() + TimeoutMs;
  const bool all = Which == TPumpMessages::All;
  for (;;) {
    if (Done && Done()) return TPumpResult::Done;
    if (all) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          PostQuitMessage(static_cast<int>(msg.wParam));
          return TPumpResult::Quit;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        if (Done && Done()) return TPumpResult::Done;
      }
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return TPumpResult::TimedOut;
    // Sent messages only: a posted message the loop leaves in the queue must
    // not end every wait at once, so only new input wakes it.
    const DWORD w = MsgWaitForMultipleObjectsEx(Wait ? 1 : 0, Wait ? &Wait : nullptr, static_cast<DWORD>(deadline - now),
                                                all ? QS_ALLINPUT : QS_SENDMESSAGE, all ? MWMO_INPUTAVAILABLE : 0);
    if (Wait && (w == WAIT_OBJECT_0 || w == WAIT_FAILED)) return TPumpResult::Done;
    if (w == WAIT_FAILED) return TPumpResult::TimedOut;
    if (!all) {
      // Receiving the sent messages is enough: the peek delivers them.
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
}

} // namespace kav
