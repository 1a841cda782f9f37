#pragma once
// The one message pump of the Win32 tests and benchmarks: serves the calling
// thread's messages while a test waits for something to happen. It needs
// nothing but Windows, so tools may compile it too.
#include <windows.h>

#include <functional>

namespace kavtest {

// Serves every message already waiting for this thread, then returns.
void PumpPending();
// Serves messages until Done() is true or TimeoutMs pass; returns Done().
bool PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs);
// Serves messages for about Ms milliseconds.
void PumpFor(DWORD Ms);
// Drops the quit requests waiting for this thread (the last status window's
// destruction asks the loop to end), so that they do not end a later test.
void DropQuitMessages();

} // namespace kavtest
