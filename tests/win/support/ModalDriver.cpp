#include "tests/win/support/ModalDriver.h"

#include <climits>

namespace kavtest {

namespace {

// The driver whose dialog is showing (thread timers carry no context).
TModalDriver* GCurrent = nullptr;

} // namespace

int TModalDriver::Run(const std::function<int()>& ShowModal, std::function<void(HWND)> Step) {
  FStep = std::move(Step);
  Ran = false;
  FDeadline = GetTickCount64() + 20000;
  TModalDriver* const outer = GCurrent;
  GCurrent = this;
  const UINT_PTR timer = SetTimer(nullptr, 0, 30, &TModalDriver::Tick);
  const int result = ShowModal();
  KillTimer(nullptr, timer);
  GCurrent = outer;
  return result;
}

void CALLBACK TModalDriver::Tick(HWND, UINT, UINT_PTR, DWORD) {
  TModalDriver* d = GCurrent;
  HWND dlg = d ? FindWindowW(d->FWindowClass.c_str(), nullptr) : nullptr;
  if (!dlg) return;
  if (GetTickCount64() > d->FDeadline) {
    d->FDeadline = ULLONG_MAX; // once
    PostMessageW(dlg, WM_CLOSE, 0, 0);
  } else if (!d->Ran && IsWindowVisible(dlg)) {
    d->Ran = true;
    d->FStep(dlg);
  }
}

} // namespace kavtest
