#include "common/win/KCL_IniFileFunc.h"

#include "common/win/KCL_AppData.h"
#include "common/core/IniValue.h"
#include "common/win/IniFile.h"

namespace kav {

int32_t TIniFileFunc::GetLogKeepDay() {
  TIniFile ini(SettingsIniFile);
  const int32_t days = CapLogKeepDay(ini.ReadInteger(L"System", L"LogKeepDay", KDefaultLogKeepDay));
  if (!ini.ValueExists(L"System", L"LogKeepDay")) {
    try {
      ini.WriteInteger(L"System", L"LogKeepDay", days);
    } catch (const EIniWriteError&) {
      // Start-up goes on without it; the default is used this time.
    }
  }
  return days;
}

} // namespace kav
