#include "settings/win/clsEnvSettings.h"

#include "common/win/KCL_AppData.h"
#include "common/win/KCL_FileOperation.h"
#include "common/win/IniFile.h"

namespace kav {

namespace {

constexpr wchar_t KSection[] = L"HotKey";

} // namespace

TEnvSettings::TEnvSettings() { Load(); }

TEnvSettings::~TEnvSettings() {
  try {
    Save();
  } catch (const EIniWriteError& error) {
    ReportIniWriteError(error);
  } catch (...) {
    // Nothing else can leave a destructor.
  }
}

void TEnvSettings::Load() {
  const TIniFile ini(SettingsIniFile);
  FComPort = ini.ReadString(KSection, L"ComPort", L"");
  FPowerUpOnAppStart = ini.ReadBool(KSection, L"PowerUpOnAppStart", false);
  FPowerDownOffAppStart = ini.ReadBool(KSection, L"PowerDownOffAppStart", false);
  FHotKeyEnableOnAppStart = ini.ReadBool(KSection, L"HotKeyEnableOnAppStart", true);
  FPowerUpOnHotKeyCtrl = ini.ReadBool(KSection, L"PowerUpOnHotKeyCtrl", true);
  FWindowVisible = ini.ReadBool(KSection, L"WindowVisible", true);
}

void TEnvSettings::Save() {
  TIniFile ini(SettingsIniFile);
  try {
    TFileOperation::CreateFileAndFolder(SettingsIniFile, true);
  } catch (const EFileOperationError&) {
    // The file cannot exist, so nothing can be written to it: say so the same way.
    throw EIniWriteError(ini.FileName());
  }
  ini.WriteString(KSection, L"ComPort", FComPort);
  ini.WriteBool(KSection, L"PowerUpOnAppStart", FPowerUpOnAppStart);
  ini.WriteBool(KSection, L"PowerDownOffAppStart", FPowerDownOffAppStart);
  ini.WriteBool(KSection, L"HotKeyEnableOnAppStart", FHotKeyEnableOnAppStart);
  ini.WriteBool(KSection, L"PowerUpOnHotKeyCtrl", FPowerUpOnHotKeyCtrl);
  ini.WriteBool(KSection, L"WindowVisible", FWindowVisible);
}

} // namespace kav
