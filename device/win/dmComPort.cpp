#include "device/win/dmComPort.h"

#include <chrono>

#include "common/core/ScopeExit.h"
#include "common/win/ModalLoop.h"
#include "device/core/Av90RProtocol.h"

namespace kav {

namespace {
constexpr UINT_PTR kRxBuffCheckTimerId = 1;
constexpr UINT kRxBuffCheckIntervalMs = 1;
constexpr std::chrono::milliseconds kPowerCtrlPause{100};
constexpr std::chrono::milliseconds kTestComPortBudget{1000};

using TClock = std::chrono::steady_clock;

// Sleep returns up to a tick early on some systems; the pause is a minimum.
void PauseAtLeast(std::chrono::milliseconds Duration) {
  const TClock::time_point end = TClock::now() + Duration;
  for (TClock::time_point now = TClock::now(); now < end; now = TClock::now()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
    Sleep(static_cast<DWORD>(left > 0 ? left : 1));
  }
}
} // namespace

TmodComPort::TmodComPort(IAv90RStatusSink* Sink)
    : FSink(Sink), FWindow([this](UINT Msg, WPARAM wParam, LPARAM lParam, LRESULT& Result) {
        return HandleWindowMessage(Msg, wParam, lParam, Result);
      }) {
  FComPort.OnRxChar = [this](TComPort& Sender, int Count) { ComPortRxChar(Sender, Count); };
  FComPort.OnException = [this](TComPort& Sender, TComExceptionKind Kind, const std::wstring& ComportMessage,
                                int64_t WinError, const std::wstring& WinMessage) {
    ComPortException(Sender, Kind, ComportMessage, WinError, WinMessage);
  };
}

TmodComPort::~TmodComPort() {
  // Bytes that arrive while closing still land in the buffer; nobody decodes them.
  FComPort.Close();
  FComPort.OnRxChar = nullptr;
  FComPort.OnException = nullptr;
  StopRxBuffCheck();
}

void TmodComPort::SetComPort(const std::wstring& AComPort) {
  try {
    FComPort.SetPort(AComPort);
  } catch (...) {
    // The channel stays closed; the next command tries to open it again.
  }
}

bool TmodComPort::SendCmd(const std::string& CmdStr) {
  // A close under way serves other processes' messages: nothing is sent from inside it.
  if (FComPort.Closing()) return false;
  try {
    if (!FComPort.Connected()) FComPort.Open();
    FPortInUseElsewhere = false;
  } catch (const EComPortInUseElsewhere&) {
    FPortInUseElsewhere = true;
    return false;
  } catch (...) {
    FPortInUseElsewhere = false;
    return false;
  }
  try {
    // A frame cut short by the write time-out (the switcher holds CTS low)
    // did not reach it: that is a failed send. The channel purged the rest
    // and stays open; the switcher is there, only not listening.
    const std::string frame = BuildCmdFrame(CmdStr);
    return FComPort.WriteStr(frame) == frame.size();
  } catch (...) {
    // A port that cannot be written is usually gone (adapter unplugged):
    // close it so that the next command opens it afresh.
    FComPort.Close();
    return false;
  }
}

bool TmodComPort::ExecPowerCtrl(bool Stat) {
  const bool result = SendCmd(PowerCtrlCmd(Stat));
  // The switcher needs a moment after a power command; on purpose no message processing.
  PauseAtLeast(kPowerCtrlPause);
  return result;
}

bool TmodComPort::ExecBlackout(bool Stat) { return SendCmd(BlackoutCmd(Stat)); }

bool TmodComPort::SelectChannel(int32_t Channel) { return SendCmd(SelectChannelCmd(Channel)); }

bool TmodComPort::SendRequestStatus() { return SendCmd(RequestStatusCmd()); }

void TmodComPort::ClosePort() {
  try {
    FComPort.Close();
  } catch (...) {
    // Closing a port whose device is gone may fail; the channel is closed either way.
  }
}

bool TmodComPort::TestComPort(const std::wstring& AComPort) {
  FConditionCmd.clear();
  // The budget counts from here, port switch and send included.
  const TClock::time_point deadline = TClock::now() + kTestComPortBudget;
  SetComPort(AComPort);
  if (!SendRequestStatus()) return false;
  // The reply is decoded by the device link's timer: every message is served
  // meanwhile. A quit request ends the wait and is left for the loop that owns it.
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
  PumpUntil([this] { return !FConditionCmd.empty(); }, static_cast<DWORD>(left > 0 ? left : 0));
  return !FConditionCmd.empty();
}

void TmodComPort::ComPortRxChar(TComPort& Sender, int Count) {
  if (Count <= 0) return;
  std::string data;
  Sender.ReadStr(data, static_cast<std::size_t>(Count));
  AppendRxBytes(FRxBuff, data.data(), data.size());
  if (!FRxBuff.empty()) StartRxBuffCheck();
}

void TmodComPort::ComPortException(TComPort&, TComExceptionKind, const std::wstring&, int64_t, const std::wstring&) {
  // Reception trouble is not the user's business; a lost device has already
  // closed the channel and the next command reopens it.
}

void TmodComPort::tmrRxBuffCheckTimer() {
  StopRxBuffCheck();
  std::string body;
  const TRxCheckResult result = CheckRxBuff(FRxBuff, body);
  // Tick again while complete frames or stray bytes may remain, also when
  // decoding throws. A frame still waiting for its CR needs no tick: the
  // next received bytes start the timer again, so an idle link has no timer.
  const TScopeExit restart([this, needed = result != TRxCheckResult::Incomplete] {
    if (needed && !FRxBuff.empty()) StartRxBuffCheck();
  });
  if (result == TRxCheckResult::Frame) ProcessRcvCmd(body);
}

void TmodComPort::ProcessRcvCmd(const std::string& RcvCmd) { DecodeReply(RcvCmd, FSink, FConditionCmd); }

void TmodComPort::StartRxBuffCheck() {
  if (FTimerActive) return;
  if (SetTimer(FWindow.Handle(), kRxBuffCheckTimerId, kRxBuffCheckIntervalMs, nullptr)) FTimerActive = true;
}

void TmodComPort::StopRxBuffCheck() {
  if (!FTimerActive) return;
  KillTimer(FWindow.Handle(), kRxBuffCheckTimerId);
  FTimerActive = false;
}

bool TmodComPort::HandleWindowMessage(UINT Msg, WPARAM wParam, LPARAM, LRESULT& Result) {
  if (Msg == WM_TIMER && wParam == kRxBuffCheckTimerId) {
    Result = 0;
    tmrRxBuffCheckTimer(); // errors go to the application's handler via the window procedure
    return true;
  }
  return false;
}

} // namespace kav
