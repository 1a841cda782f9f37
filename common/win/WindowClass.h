#pragma once
// Window classes of the program: registered once per process, whichever
// object (or test) makes the first window of a class.
#include <windows.h>

namespace kav {

struct TWindowClassDef {
  const wchar_t* Name = nullptr;
  WNDPROC Proc = nullptr;
  // A window that is seen: the arrow cursor and the dialog face colour as
  // background. Hidden and message-only windows have neither.
  bool Painted = true;
  HICON Icon = nullptr;
  HICON SmallIcon = nullptr;
};

// Registers the class in this module unless it exists already; false when
// it exists neither before nor after (the caller decides whether that is
// fatal).
bool RegisterWindowClass(const TWindowClassDef& Def);

} // namespace kav
