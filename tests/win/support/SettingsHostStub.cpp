#include "tests/win/support/SettingsHostStub.h"

namespace kavtest {

void TSettingsHostStub::SelectHotKeyEnabled(HWND Owner) {
  Calls.push_back(Owner);
  VisibleAtCall = IsWindowVisible(Owner) != FALSE;
}

std::wstring TSettingsHostStub::ModelName() const { return L"KTX-AV90R"; }

} // namespace kavtest
