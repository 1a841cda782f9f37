#pragma once
// The switcher's state as it last reported it. The main window owns one and
// updates it from the device link's reports; the device link never reads it.
#include <cstdint>

namespace kav {

struct TAv90RStatus {
  bool FPowerStat = false;    // the switcher's power is on
  bool FBlackoutStat = false; // blackout is on
  int32_t FSelChannel = 0;    // selected input as last reported; 0 until the first report

  // Back to "nothing reported yet": power off, blackout off, input 0.
  void Init();
};

} // namespace kav
