#pragma once
// The body every window procedure of the resident program shares: bind the
// object passed to CreateWindowExW at WM_NCCREATE, then hand each message to
// its handler under the callback guard, so no exception crosses into Windows.
#include <windows.h>

#include "app/win/ExceptionLogger.h"
#include "common/win/CallbackGuard.h"

namespace kav {

enum class TRouteResult {
  Unbound, // no object yet, or the process is ending after a fault
  Handled, // Result holds the handler's answer
  Failed   // the handler threw; the guard has reported it
};

template <class T>
TRouteResult RouteWindowMessage(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, HWND T::*HandleField,
                                LRESULT (T::*Handler)(UINT, WPARAM, LPARAM), LRESULT& Result) {
  if (Msg == WM_NCCREATE) {
    auto* created = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(LParam)->lpCreateParams);
    created->*HandleField = Wnd;
    SetWindowLongPtrW(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (!self || TExceptionLogger::Crashing()) return TRouteResult::Unbound;
  bool handled = false;
  GuardCallback([&] {
    Result = (self->*Handler)(Msg, WParam, LParam);
    handled = true;
  });
  return handled ? TRouteResult::Handled : TRouteResult::Failed;
}

} // namespace kav
