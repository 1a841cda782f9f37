#include "tests/win/support/HotKeyTable.h"

#include "hotkeys/win/clsHotKeyInfo.h"

namespace kavtest {

void AddDefaultHotKeys(kav::THotKeyInfoList& List) {
  for (std::size_t i = 0; i < kav::HotKeyCount; ++i) List.AddItem(kav::DefaultHotKeyValues[i], KFuncNames[i]);
}

} // namespace kavtest
