#include "app/win/TrayIcon.h"

#include <windowsx.h>

#include "app/win/ExceptionLogger.h"
#include "app/win/WindowRouting.h"
#include "common/win/CallbackGuard.h"

namespace kav {

const wchar_t TTrayIcon::KWindowClass[] = L"TTrayIconWindow";

TTrayIcon::TTrayIcon(HINSTANCE Instance, HWND Owner) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &TTrayIcon::WndProc;
  wc.hInstance = Instance;
  wc.lpszClassName = KWindowClass;
  RegisterClassExW(&wc);
  FTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  // A top-level (not message-only) window: it must be able to become the
  // foreground window for the popup menu to close properly.
  FWnd = CreateWindowExW(WS_EX_TOOLWINDOW, KWindowClass, L"", WS_POPUP, 0, 0, 0, 0, Owner, nullptr, Instance, this);
}

TTrayIcon::~TTrayIcon() {
  if (FShown) {
    NOTIFYICONDATAW nid = BaseData(0);
    Shell_NotifyIconW(NIM_DELETE, &nid);
  }
  if (FWnd) {
    SetWindowLongPtrW(FWnd, GWLP_USERDATA, 0);
    DestroyWindow(FWnd);
  }
}

NOTIFYICONDATAW TTrayIcon::BaseData(UINT Flags) const {
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = FWnd;
  nid.uID = KIconId;
  nid.uFlags = Flags;
  nid.uCallbackMessage = KCallbackMessage;
  nid.hIcon = CurrentIcon();
  lstrcpynW(nid.szTip, FHint.c_str(), static_cast<int>(std::size(nid.szTip)));
  return nid;
}

HICON TTrayIcon::CurrentIcon() const noexcept {
  return (FImageIndex == 0 || FImageIndex == 1) ? FImages[static_cast<size_t>(FImageIndex)].Get() : nullptr;
}

void TTrayIcon::Modify(UINT Flags) {
  if (!FShown) return;
  NOTIFYICONDATAW nid = BaseData(Flags);
  Shell_NotifyIconW(NIM_MODIFY, &nid);
}

void TTrayIcon::SetImages(TIconHandle Image0, TIconHandle Image1) {
  FImages[0] = std::move(Image0);
  FImages[1] = std::move(Image1);
  Modify(NIF_ICON);
}

void TTrayIcon::SetImageIndex(int Index) {
  FImageIndex = Index;
  Modify(NIF_ICON);
}

void TTrayIcon::SetHint(const std::wstring& Hint) {
  FHint = Hint;
  Modify(NIF_TIP);
}

void TTrayIcon::Show() {
  NOTIFYICONDATAW nid = BaseData(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  // Without a shell (no taskbar yet) the add fails; "TaskbarCreated" retries.
  FShown = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
  if (FShown) {
    // Version 3: the menu key on the focused icon sends WM_CONTEXTMENU too.
    nid.uVersion = NOTIFYICON_VERSION;
    FVersion3 = Shell_NotifyIconW(NIM_SETVERSION, &nid) != FALSE;
  }
}

void TTrayIcon::Notify(UINT MouseMessage) { HandleMessage(KCallbackMessage, KIconId, MouseMessage); }

LRESULT CALLBACK TTrayIcon::WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  LRESULT result = 0;
  switch (RouteWindowMessage(Wnd, Msg, WParam, LParam, &TTrayIcon::FWnd, &TTrayIcon::HandleMessage, result)) {
  case TRouteResult::Handled:
    return result;
  case TRouteResult::Failed:
    return 0;
  case TRouteResult::Unbound:
    break;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

LRESULT TTrayIcon::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == KCallbackMessage) {
    switch (LOWORD(LParam)) {
    case WM_LBUTTONDOWN:
      if (OnMouseDown) OnMouseDown();
      break;
    case WM_LBUTTONDBLCLK:
      if (OnDblClick) OnDblClick();
      break;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU: {
      // With version 3 the shell follows a right-click's button-up with
      // WM_CONTEXTMENU (also sent for the menu key); take only that one.
      const bool contextMessage = LOWORD(LParam) == WM_CONTEXTMENU;
      if (contextMessage != FVersion3) break;
      POINT pt{};
      GetCursorPos(&pt);
      if (OnContextMenu) OnContextMenu(pt);
      break;
    }
    default:
      break;
    }
    return 0;
  }
  if (Msg == FTaskbarCreated && FTaskbarCreated != 0) {
    Show();
    return 0;
  }
  return DefWindowProcW(FWnd, Msg, WParam, LParam);
}

} // namespace kav
