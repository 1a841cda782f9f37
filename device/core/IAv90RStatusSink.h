#pragma once
// What the device link reports to the main window: one call per decoded value,
// made on the UI thread, in the order the switcher's replies arrive.
#include <cstdint>

namespace kav {

class IAv90RStatusSink {
public:
  virtual ~IAv90RStatusSink() = default;

  // The switcher reported its power state (a status reply always reports on).
  virtual void DoProcess_RcvPowerStat(bool Stat) = 0;
  // The switcher reported its blackout state.
  virtual void DoProcess_RcvBlackoutStat(bool Stat) = 0;
  // The switcher reported its selected input (one decimal digit, not range checked).
  virtual void DoProcess_RcvSelectChannel(int32_t Channel) = 0;
};

} // namespace kav
