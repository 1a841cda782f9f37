#pragma once
// The one window procedure of every window class of the program that belongs
// to an object: the object given to CreateWindowExW arrives at WM_NCCREATE,
// is kept in GWLP_USERDATA and learns its window handle; from then on every
// message goes to its member handler under the callback guard, so that no
// exception crosses into Windows.
#include <windows.h>

#include "common/win/CallbackGuard.h"

namespace kav {

// Answers of a window whose handler threw (the guard has reported the error).
inline LRESULT DefaultAnswer(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}
inline LRESULT ZeroAnswer(HWND, UINT, WPARAM, LPARAM) { return 0; }

// Window procedure of windows bound to objects of class T. Handler answers
// every message (it calls DefWindowProcW for those it leaves alone); a
// handler that throws is answered with OnFailure. Before the binding, after
// the object has let go of its window (UnbindWindow) and while a fatal fault
// is being reported, the system answers. At WM_NCDESTROY the window lets go
// of the object and the object's handle field is cleared.
template <class T, HWND T::*HandleField, LRESULT (T::*Handler)(UINT, WPARAM, LPARAM),
          LRESULT (*OnFailure)(HWND, UINT, WPARAM, LPARAM) = &DefaultAnswer>
LRESULT CALLBACK BoundWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_NCCREATE) {
    auto* created = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(LParam)->lpCreateParams);
    created->*HandleField = Wnd;
    SetWindowLongPtrW(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (!self || CallbacksSuspended()) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  LRESULT result = 0;
  bool handled = false;
  GuardCallback([&] {
    result = (self->*Handler)(Msg, WParam, LParam);
    handled = true;
  });
  if (Msg == WM_NCDESTROY) {
    SetWindowLongPtrW(Wnd, GWLP_USERDATA, 0);
    self->*HandleField = nullptr;
  }
  return handled ? result : OnFailure(Wnd, Msg, WParam, LParam);
}

// The object lets go of its window before destroying it: the messages of the
// destruction go to the system, not to an object that is being torn down.
inline void DestroyBoundWindow(HWND Wnd) {
  if (!Wnd) return;
  SetWindowLongPtrW(Wnd, GWLP_USERDATA, 0);
  DestroyWindow(Wnd);
}

} // namespace kav
