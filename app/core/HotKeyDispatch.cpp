#include "app/core/HotKeyDispatch.h"

namespace kav {

THotKeyActionPlan PlanHotKeyAction(int Index, const TAv90RStatus& Stat, bool PowerUpOnHotKeyCtrl) noexcept {
  THotKeyActionPlan plan;
  if (Index == 0) {
    plan.Kind = THotKeyActionPlan::TKind::Power;
    plan.Stat = !Stat.FPowerStat;
    return plan;
  }
  if (Index < 1 || Index > 9) return plan;
  plan.PowerUpFirst = PowerUpOnHotKeyCtrl && !Stat.FPowerStat;
  if (Index == 1) {
    plan.Kind = THotKeyActionPlan::TKind::Blackout;
    plan.Stat = !Stat.FBlackoutStat;
  } else {
    plan.Kind = THotKeyActionPlan::TKind::SelectChannel;
    plan.Channel = Index - 1;
  }
  return plan;
}

THotKeyActionResult ExecuteHotKeyAction(const THotKeyActionPlan& Plan, IAv90RDevice& Device, bool* CommandWritten) {
  using TKind = THotKeyActionPlan::TKind;
  bool written = false;
  THotKeyActionResult result = THotKeyActionResult::Sent;
  switch (Plan.Kind) {
  case TKind::None:
    result = THotKeyActionResult::NoAction;
    break;
  case TKind::Power:
    written = Device.ExecPowerCtrl(Plan.Stat);
    if (!written) result = THotKeyActionResult::PortError;
    break;
  case TKind::Blackout:
  case TKind::SelectChannel:
    if (Plan.PowerUpFirst && !Device.ExecPowerCtrl(true)) {
      result = THotKeyActionResult::PortError;
      break;
    }
    written = Plan.Kind == TKind::Blackout ? Device.ExecBlackout(Plan.Stat) : Device.SelectChannel(Plan.Channel);
    break;
  }
  if (CommandWritten) *CommandWritten = written;
  return result;
}

bool RunStartupCommands(const std::wstring& ComPort, bool PowerUpOnAppStart, IAv90RDevice& Device) {
  Device.SetComPort(ComPort);
  bool ok = true;
  if (PowerUpOnAppStart) ok = Device.ExecPowerCtrl(true);
  if (ok) ok = Device.SendRequestStatus();
  return ok;
}

} // namespace kav
