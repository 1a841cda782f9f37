#include "app/win/EnvSettingsForm.h"

#include "settings/win/frmEnvSettings.h"

namespace kav {

void TEnvSettingsFormAdapter::SetEnvSettings(THotKeyInfoList& HotKeyInfoList, TEnvSettings& EnvSettings) {
  FForm.SetEnvSettings(HotKeyInfoList, EnvSettings);
}

int TEnvSettingsFormAdapter::ShowModal() { return FForm.ShowModal(); }

} // namespace kav
