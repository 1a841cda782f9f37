#include "app/win/TrayIcon.h"

#include <commctrl.h>
#include <windowsx.h>

#include <utility>

#include "common/win/KCFL_FormScaling.h"
#include "common/win/WindowBinding.h"
#include "common/win/WindowClass.h"

namespace kav {

namespace {

TShellNotifyIconHandler& ShellHandler() {
  static TShellNotifyIconHandler handler;
  return handler;
}

bool ShellNotify(DWORD Message, NOTIFYICONDATAW& Data) {
  if (auto& h = ShellHandler()) return h(Message, Data) != FALSE;
  return Shell_NotifyIconW(Message, &Data) != FALSE;
}

} // namespace

const wchar_t TTrayIcon::KWindowClass[] = L"TTrayIconWindow";

TTrayIcon::TTrayIcon(HINSTANCE Instance, HWND Owner) {
  RegisterWindowClass(
      {KWindowClass, &BoundWindowProc<TTrayIcon, &TTrayIcon::FWnd, &TTrayIcon::HandleMessage, &ZeroAnswer>, false});
  FTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  // A top-level (not message-only) window: it must be able to become the
  // foreground window for the popup menu to close properly.
  FWnd = CreateWindowExW(WS_EX_TOOLWINDOW, KWindowClass, L"", WS_POPUP, 0, 0, 0, 0, Owner, nullptr, Instance, this);
  // Started elevated, the program would otherwise never hear of a restarted
  // shell: the message filter drops broadcasts from lower integrity levels.
  if (FWnd && FTaskbarCreated != 0) ChangeWindowMessageFilterEx(FWnd, FTaskbarCreated, MSGFLT_ALLOW, nullptr);
}

TTrayIcon::~TTrayIcon() {
  if (FWnd) {
    StopRetrying();
    // Also when the last add or modify seemed to fail: an icon the shell
    // kept anyway must not linger after the program has gone.
    NOTIFYICONDATAW nid = BaseData(0);
    ShellNotify(NIM_DELETE, nid);
    DestroyBoundWindow(FWnd);
  }
}

TIconHandle TTrayIcon::LoadSmallIcon(HINSTANCE Instance, int Id, int Dpi) {
  // Windows 10 (1607) and later tell the size for any DPI; the program is
  // per-monitor aware, so GetSystemMetrics keeps the DPI it started with.
  using TGetSystemMetricsForDpi = int(WINAPI*)(int, UINT);
  static const auto metricsForDpi = reinterpret_cast<TGetSystemMetricsForDpi>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
  if (Dpi > 0 && metricsForDpi) {
    const int cx = metricsForDpi(SM_CXSMICON, static_cast<UINT>(Dpi));
    const int cy = metricsForDpi(SM_CYSMICON, static_cast<UINT>(Dpi));
    if (cx > 0 && cy > 0)
      if (HICON icon = static_cast<HICON>(LoadImageW(Instance, MAKEINTRESOURCEW(Id), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR)))
        return TIconHandle(icon);
  }
  // LoadIconMetric exists only in version 6 of the common controls; a
  // process without that manifest (or an old system) takes the metric itself.
  using TLoadIconMetric = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, HICON*);
  if (HMODULE comctl = GetModuleHandleW(L"comctl32.dll")) {
    if (const auto loadIconMetric =
            reinterpret_cast<TLoadIconMetric>(reinterpret_cast<void*>(GetProcAddress(comctl, "LoadIconMetric")))) {
      HICON icon = nullptr;
      if (SUCCEEDED(loadIconMetric(Instance, MAKEINTRESOURCEW(Id), LIM_SMALL, &icon)) && icon)
        return TIconHandle(icon);
    }
  }
  return TIconHandle(static_cast<HICON>(LoadImageW(Instance, MAKEINTRESOURCEW(Id), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                   LR_DEFAULTCOLOR)));
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

HICON TTrayIcon::Image(int Index) const noexcept {
  return (Index == 0 || Index == 1) ? FImages[static_cast<size_t>(Index)].Get() : nullptr;
}

HICON TTrayIcon::CurrentIcon() const noexcept { return Image(FImageIndex); }

void TTrayIcon::Modify(UINT Flags) {
  if (!FShown) return; // a pending add carries the current image and tip
  NOTIFYICONDATAW nid = BaseData(Flags);
  ShellNotify(NIM_MODIFY, nid);
}

void TTrayIcon::SetImages(TIconHandle Image0, TIconHandle Image1) {
  FImages[0] = std::move(Image0);
  FImages[1] = std::move(Image1);
  Modify(NIF_ICON);
}

void TTrayIcon::SetImageResources(HINSTANCE Instance, int Id0, int Id1) {
  FResourceInstance = Instance;
  FResourceIds = {Id0, Id1};
  ReloadImages();
}

bool TTrayIcon::LoadImages(int Dpi) {
  if (!FResourceInstance) return false;
  if (Dpi <= 0) Dpi = WindowDpi(FWnd);
  FImages[0] = LoadSmallIcon(FResourceInstance, FResourceIds[0], Dpi);
  FImages[1] = LoadSmallIcon(FResourceInstance, FResourceIds[1], Dpi);
  return true;
}

void TTrayIcon::ReloadImages(int Dpi) {
  if (LoadImages(Dpi)) Modify(NIF_ICON);
}

void TTrayIcon::SetImageIndex(int Index) {
  FImageIndex = Index;
  Modify(NIF_ICON);
}

void TTrayIcon::SetHint(const std::wstring& Hint) {
  FHint = Hint;
  Modify(NIF_TIP);
}

bool TTrayIcon::TryAdd() {
  NOTIFYICONDATAW nid = BaseData(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  // A shell that still has the icon refuses the add: bring it up to date.
  FShown = ShellNotify(NIM_ADD, nid) || ShellNotify(NIM_MODIFY, nid);
  if (FShown) {
    // Version 3: the menu key on the focused icon sends WM_CONTEXTMENU too.
    nid.uVersion = NOTIFYICON_VERSION;
    FVersion3 = ShellNotify(NIM_SETVERSION, nid);
  }
  return FShown;
}

void TTrayIcon::Show() {
  if (TryAdd()) {
    StopRetrying();
    return;
  }
  // No shell yet (a start early in the log-on): keep trying for a while.
  if (FRetriesLeft == 0 && FWnd) {
    FRetriesLeft = KRetryCount;
    SetTimer(FWnd, KRetryTimerId, KRetryIntervalMs, nullptr);
  }
}

void TTrayIcon::StopRetrying() {
  FRetriesLeft = 0;
  KillTimer(FWnd, KRetryTimerId); // harmless when none runs
}

void TTrayIcon::Notify(UINT MouseMessage) { HandleMessage(KCallbackMessage, KIconId, MouseMessage); }

TShellNotifyIconHandler TTrayIcon::SetShellNotifyIconHandler(TShellNotifyIconHandler Handler) {
  return std::exchange(ShellHandler(), std::move(Handler));
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
  if (Msg == WM_TIMER && WParam == KRetryTimerId) {
    if (FRetriesLeft > 0 && (TryAdd() || --FRetriesLeft == 0)) StopRetrying();
    return 0;
  }
  if (Msg == FTaskbarCreated && FTaskbarCreated != 0) {
    // Also sent after a change of the screen's scale: the icons at its new
    // size (the add or modify below carries them).
    LoadImages(0);
    Show();
    return 0;
  }
  if (Msg == WM_DPICHANGED) {
    ReloadImages(HIWORD(WParam));
    return 0;
  }
  return DefWindowProcW(FWnd, Msg, WParam, LParam);
}

} // namespace kav
