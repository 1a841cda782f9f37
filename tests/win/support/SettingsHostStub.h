#pragma once
// Stands in for the status window as the settings dialog's host: notes each
// closing question (its owner, and whether that window was still visible).
#include <windows.h>

#include <string>
#include <vector>

#include "settings/win/IEnvSettingsHost.h"

namespace kavtest {

class TSettingsHostStub : public kav::IEnvSettingsHost {
public:
  std::vector<HWND> Calls;
  bool VisibleAtCall = false;

  void SelectHotKeyEnabled(HWND Owner) override;
  // "KTX-AV90R", as the version resource names the model.
  std::wstring ModelName() const override;
};

} // namespace kavtest
