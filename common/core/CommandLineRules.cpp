#include "common/core/CommandLineRules.h"

#include "common/core/PathRules.h"

namespace kav {

TCommandLineSwitches ScanCommandLine(const std::vector<std::wstring>& Args) {
  TCommandLineSwitches result;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::wstring& arg = Args[i];
    if (SameTextAscii(arg, L"/debug")) {
      result.Debug = true;
    } else if (SameTextAscii(arg, L"/nonio")) {
      // Recognised for the program family; no effect here.
    } else if (SameTextAscii(arg, L"/HANDLE")) {
      result.Handle = (i + 1 < Args.size()) ? Args[i + 1] : std::wstring();
    } else {
      result.Handle = arg;
    }
  }
  return result;
}

} // namespace kav
