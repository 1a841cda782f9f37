#include "app/win/ComPortDevice.h"

#include "device/win/dmComPort.h"

namespace kav {

void TComPortDevice::SetComPort(const std::wstring& AComPort) { FModule.SetComPort(AComPort); }
bool TComPortDevice::ExecPowerCtrl(bool Stat) { return FModule.ExecPowerCtrl(Stat); }
bool TComPortDevice::ExecBlackout(bool Stat) { return FModule.ExecBlackout(Stat); }
bool TComPortDevice::SelectChannel(int32_t Channel) { return FModule.SelectChannel(Channel); }
bool TComPortDevice::SendRequestStatus() { return FModule.SendRequestStatus(); }
bool TComPortDevice::TestComPort(const std::wstring& AComPort) { return FModule.TestComPort(AComPort); }
void TComPortDevice::ClosePort() { FModule.ClosePort(); }
bool TComPortDevice::Connected() const { return FModule.ComPort().Connected(); }
bool TComPortDevice::Closing() const { return FModule.ComPort().Closing(); }
bool TComPortDevice::PortInUseElsewhere() const { return FModule.PortInUseElsewhere(); }

} // namespace kav
