#pragma once
// The settings record: the COM port of the switcher and the start-up and
// hot-key switches, kept in section "HotKey" of SettingsIniFile.
#include <string>

namespace kav {

class TEnvSettings {
public:
  // Creates the record and loads it from SettingsIniFile.
  TEnvSettings();
  // Saves the record. A refused write goes to ReportIniWriteError (IniFile.h),
  // since a destructor cannot pass it on.
  ~TEnvSettings();
  TEnvSettings(const TEnvSettings&) = delete;
  TEnvSettings& operator=(const TEnvSettings&) = delete;

  // Reads the six keys, each with its default; a missing file gives defaults.
  void Load();
  // Creates the file and its folder (with the Users grant) when missing, then
  // writes all six keys. Throws EIniWriteError when the file cannot be
  // created or a write is refused.
  void Save();

  const std::wstring& ComPort() const noexcept { return FComPort; }
  void SetComPort(const std::wstring& Value) { FComPort = Value; }
  bool PowerUpOnAppStart() const noexcept { return FPowerUpOnAppStart; }
  void SetPowerUpOnAppStart(bool Value) noexcept { FPowerUpOnAppStart = Value; }
  bool PowerDownOffAppStart() const noexcept { return FPowerDownOffAppStart; }
  void SetPowerDownOffAppStart(bool Value) noexcept { FPowerDownOffAppStart = Value; }
  bool HotKeyEnableOnAppStart() const noexcept { return FHotKeyEnableOnAppStart; }
  void SetHotKeyEnableOnAppStart(bool Value) noexcept { FHotKeyEnableOnAppStart = Value; }
  bool PowerUpOnHotKeyCtrl() const noexcept { return FPowerUpOnHotKeyCtrl; }
  void SetPowerUpOnHotKeyCtrl(bool Value) noexcept { FPowerUpOnHotKeyCtrl = Value; }
  bool WindowVisible() const noexcept { return FWindowVisible; }
  void SetWindowVisible(bool Value) noexcept { FWindowVisible = Value; }

private:
  std::wstring FComPort;
  bool FPowerUpOnAppStart = false;
  bool FPowerDownOffAppStart = false;
  bool FHotKeyEnableOnAppStart = true;
  bool FPowerUpOnHotKeyCtrl = true;
  bool FWindowVisible = true;
};

} // namespace kav
