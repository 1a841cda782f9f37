// The status window and the switcher: commands from the command line, the
// reported values, and following the adapter and the PC's sleep.
#include "app/win/frmMain.h"

#include <dbt.h>

#include "app/core/AppTexts.h"
#include "app/core/HotKeyDispatch.h"
#include "app/core/IAv90RDevice.h"
#include "app/win/DeviceNotice.h"
#include "common/core/ScopedFlag.h"
#include "common/win/MessageBoxSeam.h"
#include "settings/win/clsEnvSettings.h"

namespace kav {

// ---------------------------------------------------------------------------
// Commands from the command line

TRemoteAnswer TFormMain::DoProcess_RemoteCommand(const TRemoteCommand& Command) {
  if (!IsValidRemoteCommand(Command) || Command.Kind == TRemoteCommandKind::Status)
    return TRemoteAnswer::NotUnderstood;
  // Whatever the person is answering comes first: nothing changes behind a
  // dialog, a question or a box (a nested command included).
  // A close of the port serves other processes' messages while it waits: a
  // command arriving inside it waits its turn too.
  if (FFormShowFlg || OpenMessageBoxCount() > 0 || FRemoteCommandRunning || FClosingPort || Device().Closing())
    return TRemoteAnswer::Busy;
  if (FStartupState != TStartupState::Done) return TRemoteAnswer::Starting;
  const TScopedFlag running(FRemoteCommandRunning);
  if (Command.Kind == TRemoteCommandKind::Exit) {
    // As 終了(&X), but nobody at the screen asked: a failed power-down is
    // not shown, as at a session end.
    const TScopedFlag quiet(FSessionEnding);
    SetUnattendedEnd();
    pmiTerminateClick();
    return TRemoteAnswer::Done;
  }
  // Nobody at the screen asked for this: a key that cannot be registered and
  // a port that cannot be opened are told by the exit code, not in a box.
  if (Command.Kind == TRemoteCommandKind::HotKey)
    return ApplyHotKeyEnabled(Command.Value == KRemoteOn, false) == 0 ? TRemoteAnswer::Done : TRemoteAnswer::NotDone;
  bool written = false;
  const auto plan = PlanRemoteCommand(Command, FAv90RStat, FEnvSettings->PowerUpOnHotKeyCtrl());
  const auto result = ExecuteHotKeyAction(plan, Device(), &written);
  return result == THotKeyActionResult::Sent && written ? TRemoteAnswer::Done : TRemoteAnswer::NotDone;
}

TRemoteAnswer TFormMain::GetRemoteStatus(TRemoteStatus& Status) const {
  if (FStartupState == TStartupState::Waiting) return TRemoteAnswer::Starting;
  Status.Power = FAv90RStat.FPowerStat;
  Status.Blackout = FAv90RStat.FBlackoutStat;
  Status.Input = FAv90RStat.FSelChannel;
  Status.HotKey = HotKeyEnabled();
  Status.Port = FEnvSettings ? FEnvSettings->ComPort() : std::wstring();
  return TRemoteAnswer::Done;
}

void TFormMain::tmrStartupStatusTimer() {
  // The status reply has come (or will not come): commands act from now on.
  KillTimer(FHandle, TMR_STARTUPSTATUS);
  FStartupStatusTimerEnabled = false;
  FStartupState = TStartupState::Done;
}

void TFormMain::ShowPortError() {
  ShowMessageBox(FHandle, AppText::PortError, FProductName, MB_TOPMOST | MB_ICONERROR);
}

std::wstring TFormMain::ModelName() const { return ProgramModelName(); }

// ---------------------------------------------------------------------------
// Following the adapter and the PC's sleep

bool TFormMain::FollowsDevice() const {
  // Not before the start-up has used the link, not while the settings dialog
  // has it, and not without a stored port.
  return FStartupCommandsSent && !FEnvSettingsOpen && FEnvSettings && !FEnvSettings->ComPort().empty();
}

void TFormMain::WMDeviceChange(WPARAM Event, LPARAM Data) {
  if (Event != DBT_DEVICEARRIVAL && Event != DBT_DEVICEREMOVECOMPLETE) return;
  if (!FollowsDevice()) return;
  const TDeviceNotice notice = ReadDeviceNotice(Data);
  const std::wstring& port = FEnvSettings->ComPort();
  if (notice.Kind == TDeviceNotice::TKind::Other) return;
  // A port notice by another name may still be ours: some drivers report the
  // device's friendly name instead of "COM5". Such a notice counts like an
  // interface notice, which names no port at all: by what is present now.
  const bool ours = notice.Kind == TDeviceNotice::TKind::Port && SamePortName(port, notice.PortName);

  if (Event == DBT_DEVICEARRIVAL) {
    ArmLinkRefresh(ours ? FLinkRefresh.PortArrived() : FLinkRefresh.InterfaceArrived());
    return;
  }
  // Gone: close at once, without a word (nobody pressed anything), when it
  // was the stored port or the stored port is gone.
  if (!ours && SerialPortPresent(port)) return;
  CloseLink();
}

void TFormMain::CloseLink() {
  // Closing waits for the watcher while serving sent messages, so a device
  // notice can arrive inside it: the close under way covers that one too.
  if (FClosingPort) return;
  const TScopedFlag closing(FClosingPort);
  Device().ClosePort();
}

void TFormMain::WMPowerBroadcast(WPARAM Event) {
  switch (Event) {
  case PBT_APMSUSPEND:
    FLinkRefresh.Suspending();
    break;
  case PBT_APMRESUMEAUTOMATIC:
    ArmLinkRefresh(FLinkRefresh.ResumedAutomatic());
    break;
  case PBT_APMRESUMESUSPEND:
    ArmLinkRefresh(FLinkRefresh.ResumedByUser());
    break;
  default:
    break;
  }
}

void TFormMain::ArmLinkRefresh(bool Newly) {
  if (!FollowsDevice()) {
    FLinkRefresh.Take(); // not ours to act on now; nothing may stay pending without its timer
    return;
  }
  if (Newly) SetTimer(FHandle, TMR_LINKREFRESH, KLinkRefreshDelayMs, nullptr);
}

void TFormMain::tmrLinkRefreshTimer() {
  KillTimer(FHandle, TMR_LINKREFRESH);
  const TLinkRefresh what = FLinkRefresh.Take();
  if (what == TLinkRefresh::None || !FollowsDevice()) return;
  const std::wstring port = FEnvSettings->ComPort();
  if (what == TLinkRefresh::IfClosed && (Device().Connected() || !SerialPortPresent(port))) return;
  // A handle that slept or whose adapter came back may be stale: open afresh.
  // A port that does not open shows nothing; the next key press reports it.
  CloseLink();
  Device().SetComPort(port);
  Device().SendRequestStatus();
}

// ---------------------------------------------------------------------------
// Reported values

void TFormMain::DoProcess_RcvPowerStat(bool Stat) {
  FAv90RStat.FPowerStat = Stat;
  SetLabel(IDC_LBL_POWERSTAT, AppText::OnOffText(Stat));
}

void TFormMain::DoProcess_RcvBlackoutStat(bool Stat) {
  FAv90RStat.FBlackoutStat = Stat;
  SetLabel(IDC_LBL_BLACKOUTSTAT, AppText::OnOffText(Stat));
}

void TFormMain::DoProcess_RcvSelectChannel(int32_t Channel) {
  FAv90RStat.FSelChannel = Channel;
  SetLabel(IDC_LBL_SELCHANNELSTAT, AppText::SelChannelText(Channel));
  // The input comes last in a status reply: commands need not wait longer.
  if (FStartupStatusTimerEnabled) tmrStartupStatusTimer();
}

} // namespace kav
