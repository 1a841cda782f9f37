#pragma once
// The exception logger: writes program errors that nobody handled to the
// run's unhandled-error log (UnhandledLogFile), and turns a hardware fault in
// the program's own code into a logged, shown and final error: continuing
// after an access violation is unsafe in C++.
#include <windows.h>

#include <exception>
#include <functional>
#include <string>

namespace kav {

class TExceptionLogger {
public:
  TExceptionLogger() = delete;

  // Installs the crash handling once per process: a vectored handler for
  // access violations inside the executable's own image (a window procedure
  // called back from the system might otherwise swallow them), an
  // unhandled-exception filter for every other fault, and a terminate handler.
  static void Install();

  // The file records go to (UnhandledLogFile); empty: records are dropped.
  static void SetLogFile(const std::wstring& Path);
  static std::wstring LogFile();

  // Appends one record for a C++ exception: time, exception class, location,
  // message and the call stack of the point where it is logged. Never throws.
  static void LogException(const std::exception_ptr& E, const std::wstring& Location) noexcept;

  // Appends one record for a hardware fault: time, code, address with its
  // module, the fault's text and the call stack of the faulting thread.
  // Returns the text shown to the user. Never throws.
  static std::wstring LogFault(const EXCEPTION_POINTERS& Fault) noexcept;

  // True once a fatal fault is being reported: window procedures of the
  // program then leave every message to the system.
  static bool Crashing() noexcept;

  // What ends the process after a fatal fault has been logged and shown
  // (tests replace it; the default terminates with the fault's code).
  using TFatalExit = void (*)(DWORD Code);
  static void SetFatalExit(TFatalExit Exit) noexcept;

  // Reports a fatal fault: log, standard error box, then the end of the process.
  [[noreturn]] static void ReportFatal(const EXCEPTION_POINTERS& Fault) noexcept;
};

} // namespace kav
