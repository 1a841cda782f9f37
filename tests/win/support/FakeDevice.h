#pragma once
// A device link that records every call in order ("port COM5", "W1", "B0",
// "S3", "C", "close") instead of talking to a switcher. Power commands
// answer with PowerResult, blackout and input frames with FrameResult, the
// status request with StatusResult. Portable (no windows.h): the native
// tests of the dispatch rules use it as well as the status window's tests.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/core/IAv90RDevice.h"
#include "common/core/TextUtil.h"

namespace kavtest {

class TFakeDevice : public kav::IAv90RDevice {
public:
  std::vector<std::string> Calls;
  bool PowerResult = true;
  bool FrameResult = true;
  bool StatusResult = true;
  bool ClosingNow = false;      // a close is under way
  bool InUseElsewhere = false;  // the last open found the port in another session's hands
  std::function<void()> OnSelectChannel; // runs after the call is noted; may throw
  std::function<void()> OnClosePort;     // likewise

  void SetComPort(const std::wstring& AComPort) override { Calls.push_back("port " + kav::ToUtf8(AComPort)); }
  bool ExecPowerCtrl(bool Stat) override {
    Calls.push_back(Stat ? "W1" : "W0");
    return PowerResult;
  }
  bool ExecBlackout(bool Stat) override {
    Calls.push_back(Stat ? "B1" : "B0");
    return FrameResult;
  }
  bool SelectChannel(int32_t Channel) override {
    Calls.push_back("S" + std::to_string(Channel));
    if (OnSelectChannel) OnSelectChannel();
    return FrameResult;
  }
  bool SendRequestStatus() override {
    Calls.push_back("C");
    return StatusResult;
  }
  bool TestComPort(const std::wstring&) override { return false; }
  void ClosePort() override {
    Calls.push_back("close");
    if (OnClosePort) OnClosePort();
  }
  bool Connected() const override { return false; }
  bool Closing() const override { return ClosingNow; }
  bool PortInUseElsewhere() const override { return InUseElsewhere; }
};

} // namespace kavtest
