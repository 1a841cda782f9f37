#pragma once
// The settings dialog as the main window uses it: hand over the table and
// the record, show it modally. The real dialog (TFormEnvSettings) is adapted
// here; tests put a fake in its place.
#include <windows.h>

namespace kav {

class THotKeyInfoList;
class TEnvSettings;
class TFormEnvSettings;

class IEnvSettingsForm {
public:
  virtual ~IEnvSettingsForm() = default;
  virtual void SetEnvSettings(THotKeyInfoList& HotKeyInfoList, TEnvSettings& EnvSettings) = 0;
  // Returns when the dialog has closed (its close handler has asked the
  // hot-key question by then).
  virtual int ShowModal() = 0;
};

class TEnvSettingsFormAdapter final : public IEnvSettingsForm {
public:
  explicit TEnvSettingsFormAdapter(TFormEnvSettings& Form) : FForm(Form) {}
  void SetEnvSettings(THotKeyInfoList& HotKeyInfoList, TEnvSettings& EnvSettings) override;
  int ShowModal() override;

private:
  TFormEnvSettings& FForm;
};

} // namespace kav
