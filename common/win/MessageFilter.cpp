#include "common/win/MessageFilter.h"

#include "common/win/Handles.h"

namespace kav {

bool ProcessRunsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const TKernelHandle owner(token);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

void AllowMessageWhenElevated(HWND Wnd, UINT Message) {
  if (Wnd && ProcessRunsElevated()) ChangeWindowMessageFilterEx(Wnd, Message, MSGFLT_ALLOW, nullptr);
}

} // namespace kav
