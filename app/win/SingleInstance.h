#pragma once
// At most one running instance per executable name and log-on session (the
// hot keys, the tray icon and the COM port are one user's). A second start
// finds the first, brings it to the front, hands over its command line and
// ends with exit code 0 before it writes, opens or shows anything.
#include <windows.h>

#include <string>

#include "common/win/Handles.h"

namespace kav {

class TSingleInstanceGuard {
public:
  // InstanceName: the executable's base name (case does not matter).
  explicit TSingleInstanceGuard(const std::wstring& InstanceName);
  TSingleInstanceGuard(const TSingleInstanceGuard&) = delete;
  TSingleInstanceGuard& operator=(const TSingleInstanceGuard&) = delete;

  // True when no other instance of this name was running.
  bool IsFirstInstance() const noexcept { return FFirst; }
  // Lets go of the guard, so that a process started next is the first
  // instance (a start with a command that starts the resident program).
  void Release() noexcept { FMutex.Reset(); }

  // Marks the running instance's application window so a second start can find it.
  void MarkApplicationWindow(HWND AppWindow) const;

  // Second start: waits up to WaitMs for the first instance's application
  // window (it may still be starting), brings its visible window to the front
  // and hands it CommandLine. False when no window was found in time.
  bool ActivateRunningInstance(const std::wstring& CommandLine, DWORD WaitMs = 1500) const;

  // The first instance's application window, or null.
  HWND FindRunningApplicationWindow() const;
  // The same, waiting up to WaitMs for it: the instance that holds the guard
  // may still be creating its windows.
  HWND WaitForRunningApplicationWindow(DWORD WaitMs) const;

  const std::wstring& MutexName() const noexcept { return FMutexName; }

private:
  std::wstring FMutexName;
  std::wstring FPropName;
  TKernelHandle FMutex;
  bool FFirst = true;
};

} // namespace kav
