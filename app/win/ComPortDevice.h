#pragma once
// The device link as the main window sees it: TmodComPort behind the
// resident program's device interface.
#include "app/core/IAv90RDevice.h"

namespace kav {

class TmodComPort;

class TComPortDevice final : public IAv90RDevice {
public:
  explicit TComPortDevice(TmodComPort& Module) : FModule(Module) {}

  void SetComPort(const std::wstring& AComPort) override;
  bool ExecPowerCtrl(bool Stat) override;
  bool ExecBlackout(bool Stat) override;
  bool SelectChannel(int32_t Channel) override;
  bool SendRequestStatus() override;
  bool TestComPort(const std::wstring& AComPort) override;
  void ClosePort() override;
  bool Connected() const override;
  bool Closing() const override;
  bool PortInUseElsewhere() const override;

private:
  TmodComPort& FModule;
};

} // namespace kav
