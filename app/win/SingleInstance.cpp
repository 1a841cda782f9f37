#include "app/win/SingleInstance.h"

#include <cwctype>

#include "app/win/Application.h"

namespace kav {

namespace {

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

struct TFindData {
  const std::wstring* PropName;
  HWND Found;
};

BOOL CALLBACK FindMarked(HWND Wnd, LPARAM Param) {
  auto* data = reinterpret_cast<TFindData*>(Param);
  wchar_t cls[64];
  if (GetClassNameW(Wnd, cls, 64) && lstrcmpW(cls, TApplication::KWindowClass) == 0 &&
      GetPropW(Wnd, data->PropName->c_str()) != nullptr) {
    data->Found = Wnd;
    return FALSE;
  }
  return TRUE;
}

} // namespace

TSingleInstanceGuard::TSingleInstanceGuard(const std::wstring& InstanceName) {
  std::wstring name = Lower(InstanceName);
  for (auto& c : name)
    if (c == L'\\') c = L'_';
  FMutexName = L"Local\\KAV90R_HotKeyController." + name;
  FPropName = L"KAV90R_HotKeyController.Instance." + name;
  FMutex.Reset(CreateMutexW(nullptr, FALSE, FMutexName.c_str()));
  const DWORD error = GetLastError();
  // A guard that exists but refuses us was made by an instance running with
  // other rights (elevated, say): that instance runs all the same.
  if (FMutex.Valid())
    FFirst = error != ERROR_ALREADY_EXISTS;
  else
    FFirst = error != ERROR_ACCESS_DENIED;
}

void TSingleInstanceGuard::MarkApplicationWindow(HWND AppWindow) const {
  SetPropW(AppWindow, FPropName.c_str(), reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1)));
}

HWND TSingleInstanceGuard::FindRunningApplicationWindow() const {
  TFindData data{&FPropName, nullptr};
  EnumWindows(&FindMarked, reinterpret_cast<LPARAM>(&data));
  return data.Found;
}

HWND TSingleInstanceGuard::WaitForRunningApplicationWindow(DWORD WaitMs) const {
  const DWORD start = GetTickCount();
  HWND app = FindRunningApplicationWindow();
  while (!app && GetTickCount() - start < WaitMs) {
    Sleep(50);
    app = FindRunningApplicationWindow();
  }
  return app;
}

bool TSingleInstanceGuard::ActivateRunningInstance(const std::wstring& CommandLine, DWORD WaitMs) const {
  const HWND app = WaitForRunningApplicationWindow(WaitMs);
  if (!app) return false;
  // The application window itself is never visible: bring the window it last
  // activated (the status window or an open dialog) to the front if it shows.
  HWND target = GetLastActivePopup(app);
  if (target && IsWindowVisible(target)) SetForegroundWindow(target);
  COPYDATASTRUCT data{};
  data.dwData = KCopyDataCommandLine;
  data.cbData = static_cast<DWORD>((CommandLine.size() + 1) * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(CommandLine.c_str());
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(app, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG | SMTO_BLOCK, 5000,
                      &answer);
  return true;
}

} // namespace kav
