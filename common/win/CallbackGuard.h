#pragma once
// No exception may cross a Win32 callback (window procedure, timer, thread
// hand-over): every such boundary catches and passes the exception to one
// application-wide handler. The program installs its handler at start-up;
// until then exceptions are written to the debugger output and dropped.
#include <exception>
#include <functional>

namespace kav {

using TCallbackExceptionHandler = std::function<void(std::exception_ptr)>;

// Installs the application-wide handler (empty = the default one); returns the previous handler.
TCallbackExceptionHandler SetCallbackExceptionHandler(TCallbackExceptionHandler Handler);

// Call inside a catch block at a callback boundary: hands the current exception
// to the handler. Never throws, even if the handler does.
void HandleCallbackException() noexcept;

// A fatal fault is being reported (the process ends when that is done): from
// then on window procedures leave every message to the system, so nothing of
// the program runs on top of a broken state. SuspendCallbacks returns true
// when a report was already under way (a fault inside the report).
bool SuspendCallbacks() noexcept;
bool CallbacksSuspended() noexcept;

// Runs Fn; any exception it throws goes to the handler instead of the caller.
template <class F>
void GuardCallback(F&& Fn) noexcept {
  try {
    Fn();
  } catch (...) {
    HandleCallbackException();
  }
}

} // namespace kav
