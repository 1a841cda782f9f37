#pragma once
// Win32 tests' handle on the native switcher simulator: starts it from inside
// Wine on a COM port of the running prefix and drives it over its control port.
#include <windows.h>

#include <string>

#include "tests/win/support/SimulatorControl.h"

namespace kavtest {

class TAv90RSimulator : public TSimulatorControl {
public:
  // Starts the simulator (SimulatorPath: its Linux path, e.g. KAV_SIMULATOR)
  // with its link at $WINEPREFIX/dosdevices/com<ComNumber> plus ExtraArgs
  // (e.g. "--power 1"). Throws std::runtime_error on failure.
  TAv90RSimulator(const std::string& SimulatorPath, int ComNumber, const std::string& ExtraArgs = "");
  // Ends the simulator (its link goes with it).
  ~TAv90RSimulator() override;

  // "COM<n>".
  std::wstring Port() const;

private:
  int FComNumber;
  PROCESS_INFORMATION FProcess{};
};

} // namespace kavtest
