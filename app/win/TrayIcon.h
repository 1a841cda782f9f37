#pragma once
// The notification-area icon: two images (index 0 and 1), a tool-tip, and
// the mouse events the main window reacts to. A hidden message window of its
// own receives the shell's notifications; it is never disabled by the
// program's modal dialogs, so the icon keeps answering while they are open.
// When the shell restarts ("TaskbarCreated") the icon is added again.
//
// Window class "TTrayIconWindow", never shown.
#include <windows.h>
#include <shellapi.h>

#include <array>
#include <functional>
#include <string>

#include "app/win/AppHandles.h"

namespace kav {

class TTrayIcon {
public:
  static const wchar_t KWindowClass[];
  // Callback message of the icon, sent to the message window.
  static constexpr UINT KCallbackMessage = WM_APP + 0x101;
  static constexpr UINT KIconId = 1;

  // Owner: the application window. The icon is not shown until Show.
  TTrayIcon(HINSTANCE Instance, HWND Owner);
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  // The two images (owned from now on).
  void SetImages(TIconHandle Image0, TIconHandle Image1);
  // Which image is shown (0 or 1).
  void SetImageIndex(int Index);
  int ImageIndex() const noexcept { return FImageIndex; }
  void SetHint(const std::wstring& Hint);
  const std::wstring& Hint() const noexcept { return FHint; }

  // Adds the icon to the notification area (again after a shell restart).
  void Show();
  // True while the shell has the icon.
  bool Shown() const noexcept { return FShown; }

  // The hidden message window (the owner of the popup menu while it is open).
  HWND Handle() const noexcept { return FWnd; }

  // Left button pressed, left double-click, context menu (screen position).
  std::function<void()> OnMouseDown;
  std::function<void()> OnDblClick;
  std::function<void(POINT)> OnContextMenu;

  // Feeds one callback notification as the shell would (tests).
  void Notify(UINT MouseMessage);
  // The notification that opens the menu with this shell (WM_CONTEXTMENU
  // once version 3 is agreed, WM_RBUTTONUP otherwise).
  UINT ContextMenuNotification() const noexcept { return FVersion3 ? WM_CONTEXTMENU : WM_RBUTTONUP; }

private:
  static LRESULT CALLBACK WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
  LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
  NOTIFYICONDATAW BaseData(UINT Flags) const;
  void Modify(UINT Flags);
  HICON CurrentIcon() const noexcept;

  HWND FWnd = nullptr;
  UINT FTaskbarCreated = 0;
  std::array<TIconHandle, 2> FImages;
  int FImageIndex = 1;
  std::wstring FHint;
  bool FShown = false;
  bool FVersion3 = false; // the shell sends WM_CONTEXTMENU for the menu
};

} // namespace kav
