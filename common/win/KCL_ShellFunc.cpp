#include "common/win/KCL_ShellFunc.h"

#include <shellapi.h>

namespace kav {

void OpenWithShell(const std::wstring& FileOrUrl, int ShowCmd, HWND Owner) {
  ShellExecuteW(Owner, L"open", FileOrUrl.c_str(), nullptr, nullptr, ShowCmd);
}

} // namespace kav
