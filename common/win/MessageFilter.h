#pragma once
// Which processes of lower integrity may send a message to a window of ours.
#include <windows.h>

namespace kav {

// True when this process runs with an elevated token (UAC).
bool ProcessRunsElevated();

// Lets Message from processes of lower integrity through to Wnd, but only
// when this process runs elevated: then a normal start of the program (and
// the shell) sits below us and must still reach us. Unelevated, the only
// processes below us are sandboxed ones, which stay shut out.
void AllowMessageWhenElevated(HWND Wnd, UINT Message);

} // namespace kav
