#pragma once
// Stands in for the settings dialog where the status window shows it: notes
// what it was handed, runs WhileOpen as the time the dialog is open, then
// closes as the real one does, by asking its host the closing question.
#include <windows.h>

#include <functional>

#include "app/win/EnvSettingsForm.h"
#include "settings/win/IEnvSettingsHost.h"

namespace kavtest {

class TFakeEnvSettingsForm : public kav::IEnvSettingsForm {
public:
  kav::IEnvSettingsHost* Host = nullptr;
  // The dialog's window as the closing question gets it (it owns that box).
  HWND Owner = nullptr;
  int Shown = 0;
  kav::THotKeyInfoList* GivenList = nullptr;
  kav::TEnvSettings* GivenSettings = nullptr;
  std::function<void()> WhileOpen; // may throw, as a failing dialog would

  void SetEnvSettings(kav::THotKeyInfoList& List, kav::TEnvSettings& Settings) override;
  int ShowModal() override;
};

} // namespace kavtest
