#include "tests/win/support/FakeEnvSettingsForm.h"

namespace kavtest {

void TFakeEnvSettingsForm::SetEnvSettings(kav::THotKeyInfoList& List, kav::TEnvSettings& Settings) {
  GivenList = &List;
  GivenSettings = &Settings;
}

int TFakeEnvSettingsForm::ShowModal() {
  ++Shown;
  if (WhileOpen) WhileOpen();
  Host->SelectHotKeyEnabled(Owner);
  return IDOK;
}

} // namespace kavtest
