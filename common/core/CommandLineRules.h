#pragma once
// Scanning of the program's command-line switches.
#include <string>
#include <vector>

namespace kav {

struct TCommandLineSwitches {
  bool Debug = false;   // "/debug" in any case: report unreleased resources at exit
  std::wstring Handle;  // the last plain argument, or the one after "/HANDLE"
};

// Args excludes the program path. "/nonio" is recognised and ignored.
TCommandLineSwitches ScanCommandLine(const std::vector<std::wstring>& Args);

} // namespace kav
