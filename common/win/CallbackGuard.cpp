#include "common/win/CallbackGuard.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "common/core/AppError.h"

namespace kav {

namespace {

std::atomic<bool> GSuspended{false};

TCallbackExceptionHandler& Handler() {
  static TCallbackExceptionHandler handler;
  return handler;
}

// Until the program installs its handler: note the error for a debugger, go on.
void DefaultHandler(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EKavError& e) {
    OutputDebugStringW((L"KAV90R: " + e.Message() + L"\n").c_str());
  } catch (const std::exception& e) {
    OutputDebugStringA((std::string("KAV90R: ") + e.what() + "\n").c_str());
  } catch (...) {
    OutputDebugStringW(L"KAV90R: unknown exception in a callback\n");
  }
}

} // namespace

TCallbackExceptionHandler SetCallbackExceptionHandler(TCallbackExceptionHandler NewHandler) {
  return std::exchange(Handler(), std::move(NewHandler));
}

bool SuspendCallbacks() noexcept { return GSuspended.exchange(true); }

bool CallbacksSuspended() noexcept { return GSuspended.load(); }

void HandleCallbackException() noexcept {
  const std::exception_ptr error = std::current_exception();
  if (!error) return;
  try {
    if (auto& h = Handler())
      h(error);
    else
      DefaultHandler(error);
  } catch (...) {
    // The handler itself failed: there is nowhere left to report it.
    OutputDebugStringW(L"KAV90R: the callback exception handler failed\n");
  }
}

} // namespace kav
