#pragma once
// INI-file functions of the program family. Stateless: static only.
#include <cstdint>

namespace kav {

class TIniFileFunc {
public:
  TIniFileFunc() = delete;

  // Log retention in days from [System] LogKeepDay of SettingsIniFile:
  // default 30, values above 365 give 365, no lower bound. A missing key is
  // written back (30); an existing key is never rewritten. A refused write
  // is dropped (start-up must not die of it) and the value still returned.
  static int32_t GetLogKeepDay();
};

} // namespace kav
