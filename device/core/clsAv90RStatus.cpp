#include "device/core/clsAv90RStatus.h"

namespace kav {

void TAv90RStatus::Init() {
  FPowerStat = false;
  FBlackoutStat = false;
  FSelChannel = 0;
}

} // namespace kav
