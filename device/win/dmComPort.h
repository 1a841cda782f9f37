#pragma once
// The device link to the KTX-AV90R switcher: sends command frames (ESC text CR)
// over the serial channel and decodes the switcher's replies, one frame per
// tick of a 1 ms check timer, into reports to the status sink (the main
// window). Every operation runs on the UI thread; none lets an error escape.
#include <windows.h>

#include <cstdint>
#include <string>

#include "device/core/IAv90RStatusSink.h"
#include "device/win/ComPort.h"
#include "common/win/MessageOnlyWindow.h"

namespace kav {

class TmodComPort {
public:
  // Sink may be null and set later with SetSink. The channel starts closed on "COM1".
  explicit TmodComPort(IAv90RStatusSink* Sink = nullptr);
  // Closes the channel.
  ~TmodComPort();
  TmodComPort(const TmodComPort&) = delete;
  TmodComPort& operator=(const TmodComPort&) = delete;

  // Where decoded replies are reported (null: decoded and dropped).
  void SetSink(IAv90RStatusSink* Sink) noexcept { FSink = Sink; }

  // Moves the channel to another port (same name: nothing). Failures are swallowed;
  // a channel whose reopening failed stays closed and the next command retries.
  void SetComPort(const std::wstring& AComPort);
  // Opens the channel if needed and writes ESC + CmdStr + CR. True if the
  // whole frame was written; a frame cut short by the write time-out is a
  // failed send (its rest is purged, the channel stays open). A failed write
  // closes the channel, so the next command opens the port again.
  bool SendCmd(const std::string& CmdStr);
  // Communication test: sends a status request on AComPort and waits, handling
  // UI messages, until a status reply is decoded (true) or 1000 ms have passed
  // since the call (false). False at once if the port cannot be opened.
  bool TestComPort(const std::wstring& AComPort);
  // "B1"/"B0".
  bool ExecBlackout(bool Stat);
  // "W1"/"W0", then always a 100 ms pause (no message processing).
  bool ExecPowerCtrl(bool Stat);
  // "S" + decimal Channel (no range check).
  bool SelectChannel(int32_t Channel);
  // "C": ask for the status reply.
  bool SendRequestStatus();
  // Closes the channel at once (the adapter went away); the port name stays,
  // and the next command opens it again. Errors are swallowed.
  void ClosePort();

  // The serial channel (its Port and Connected are read by tests and the dialog).
  // True when the last open failed because an instance in another session
  // holds the port (EComPortInUseElsewhere).
  bool PortInUseElsewhere() const noexcept { return FPortInUseElsewhere; }
  TComPort& ComPort() noexcept { return FComPort; }
  const TComPort& ComPort() const noexcept { return FComPort; }

  // Inspection for tests.
  const std::string& RxBuff() const noexcept { return FRxBuff; }
  const std::string& ConditionCmd() const noexcept { return FConditionCmd; }
  bool RxBuffCheckActive() const noexcept { return FTimerActive; }

private:
  void ComPortRxChar(TComPort& Sender, int Count);
  void ComPortException(TComPort& Sender, TComExceptionKind Kind, const std::wstring& ComportMessage,
                        int64_t WinError, const std::wstring& WinMessage);
  void tmrRxBuffCheckTimer();
  void ProcessRcvCmd(const std::string& RcvCmd);
  bool HandleWindowMessage(UINT Msg, WPARAM wParam, LPARAM lParam, LRESULT& Result);
  void StartRxBuffCheck();
  void StopRxBuffCheck();

  IAv90RStatusSink* FSink = nullptr;
  std::string FRxBuff;       // received bytes not yet cut into frames
  std::string FConditionCmd; // body of the last status reply
  bool FTimerActive = false;
  bool FPortInUseElsewhere = false;
  TMessageOnlyWindow FWindow; // owns tmrRxBuffCheck
  TComPort FComPort;
};

} // namespace kav
