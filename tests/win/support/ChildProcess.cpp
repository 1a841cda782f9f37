#include "tests/win/support/ChildProcess.h"

#include "tests/win/support/MessagePump.h"

namespace kavtest {

DWORD RunProcess(std::wstring CommandLine, DWORD TimeoutMs, bool Serve, const wchar_t* Folder) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, Folder, &si, &pi))
    return KNotStarted;
  const auto ended = [&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; };
  const bool done = Serve ? PumpUntil(ended, TimeoutMs) : WaitForSingleObject(pi.hProcess, TimeoutMs) == WAIT_OBJECT_0;
  DWORD code = STILL_ACTIVE;
  if (done) {
    GetExitCodeProcess(pi.hProcess, &code);
  } else {
    TerminateProcess(pi.hProcess, 1);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

} // namespace kavtest
