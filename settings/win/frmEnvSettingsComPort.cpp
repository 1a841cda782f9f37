// The dialog's hand-over to the device link, kept apart so that a program
// (or test) that supplies its own test function does not link the device link.
#include "device/win/dmComPort.h"
#include "settings/win/frmEnvSettings.h"

namespace kav {

void TFormEnvSettings::SetComPortModule(TmodComPort* modComPort) {
  if (modComPort) {
    FComPortTest = [modComPort](const std::wstring& AComPort) { return modComPort->TestComPort(AComPort); };
  } else {
    FComPortTest = nullptr;
  }
}

} // namespace kav
