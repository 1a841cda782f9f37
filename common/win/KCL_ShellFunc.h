#pragma once
// Shell helpers of the program family.
#include <windows.h>

#include <string>

namespace kav {

// Asks the shell to "open" FileOrUrl with ShowCmd, owned by Owner. The
// result is ignored.
void OpenWithShell(const std::wstring& FileOrUrl, int ShowCmd, HWND Owner = nullptr);

} // namespace kav
