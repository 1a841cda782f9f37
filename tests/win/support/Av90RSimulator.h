#pragma once
// Win32 tests' handle on the native switcher simulator: starts it from inside
// Wine on a COM port of the running prefix and drives it over its control port.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kavtest {

class TAv90RSimulator {
public:
  // Starts the simulator (SimulatorPath: its Linux path, e.g. KAV_SIMULATOR)
  // with its link at $WINEPREFIX/dosdevices/com<ComNumber> plus ExtraArgs
  // (e.g. "--power 1"). Throws std::runtime_error on failure.
  TAv90RSimulator(const std::string& SimulatorPath, int ComNumber, const std::string& ExtraArgs = "");
  // Ends the simulator (its link goes with it).
  ~TAv90RSimulator();
  TAv90RSimulator(const TAv90RSimulator&) = delete;
  TAv90RSimulator& operator=(const TAv90RSimulator&) = delete;

  // "COM<n>".
  std::wstring Port() const;
  // Sends one control line; returns the answer line ("ok ..." / "err ...").
  std::string Command(const std::string& Line);
  // Frames received since start or the last "clear", as the simulator shows them.
  std::vector<std::string> Frames();
  // Bytes received from the host since start or the last "clear", frame or not.
  std::size_t Received();

private:
  int FComNumber;
  uintptr_t FSocket;
  PROCESS_INFORMATION FProcess{};
  std::string FPending;
};

// Runs the UI thread's message loop until Done() is true or TimeoutMs pass; returns Done().
bool PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs);
// Runs the message loop for about Ms milliseconds.
void PumpFor(DWORD Ms);

} // namespace kavtest
