#include "tests/win/support/ModalDriver.h"

namespace kavtest {

namespace {

// The driver whose dialog is showing (thread timers carry no context).
TModalDriver* GCurrent = nullptr;

} // namespace

int TModalDriver::Run(const std::function<int()>& ShowModal, std::function<void(HWND)> Step) {
  FStep = std::move(Step);
  Ran = false;
  TModalDriver* const outer = GCurrent;
  GCurrent = this;
  const UINT_PTR timer = SetTimer(nullptr, 0, 30, &TModalDriver::Tick);
  const UINT_PTR guard = SetTimer(nullptr, 0, 20000, &TModalDriver::Abort);
  const int result = ShowModal();
  KillTimer(nullptr, timer);
  KillTimer(nullptr, guard);
  GCurrent = outer;
  return result;
}

void CALLBACK TModalDriver::Tick(HWND, UINT, UINT_PTR, DWORD) {
  TModalDriver* d = GCurrent;
  if (!d || d->Ran) return;
  HWND dlg = FindWindowW(d->FWindowClass.c_str(), nullptr);
  if (!dlg || !IsWindowVisible(dlg)) return;
  d->Ran = true;
  d->FStep(dlg);
}

void CALLBACK TModalDriver::Abort(HWND, UINT, UINT_PTR, DWORD) {
  TModalDriver* d = GCurrent;
  if (!d) return;
  if (HWND dlg = FindWindowW(d->FWindowClass.c_str(), nullptr)) PostMessageW(dlg, WM_CLOSE, 0, 0);
}

} // namespace kavtest
