#pragma once
// The notification-area icon: two images (index 0 and 1), a tool-tip, and
// the mouse events the main window reacts to. A hidden message window of its
// own receives the shell's notifications; it is never disabled by the
// program's modal dialogs, so the icon keeps answering while they are open.
//
// The icon survives the shell: when "TaskbarCreated" arrives it is added
// again, or brought up to date when the shell still has it (the shell also
// sends that message after a DPI change or a remote session); an add that
// fails because no shell runs yet is retried every 2 s for a minute; and the
// icon is removed when the object goes, whatever happened before.
//
// Window class "TTrayIconWindow", never shown.
#include <windows.h>
#include <shellapi.h>

#include <array>
#include <functional>
#include <string>

#include "common/win/Handles.h"

namespace kav {

// Every Shell_NotifyIconW call of the tray icon goes through this, so a test
// can play the shell (one that has the icon already, or none at all).
using TShellNotifyIconHandler = std::function<BOOL(DWORD Message, NOTIFYICONDATAW& Data)>;

class TTrayIcon {
public:
  static const wchar_t KWindowClass[];
  // Callback message of the icon, sent to the message window.
  static constexpr UINT KCallbackMessage = WM_APP + 0x101;
  static constexpr UINT KIconId = 1;
  // Retry of an add the shell refused: timer of the message window.
  static constexpr UINT_PTR KRetryTimerId = 1;
  static constexpr UINT KRetryIntervalMs = 2000;
  static constexpr int KRetryCount = 30; // a minute

  // Owner: the application window. The icon is not shown until Show.
  TTrayIcon(HINSTANCE Instance, HWND Owner);
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  // Icon resource Id in the size the system uses for small icons (16 pixels
  // at 100 %, 20 to 32 at 125 to 200 %), so the shell need not scale it.
  // Given a Dpi, the size for that DPI where Windows can tell it
  // (GetSystemMetricsForDpi); otherwise the size of the DPI the program started with.
  static TIconHandle LoadSmallIcon(HINSTANCE Instance, int Id, int Dpi = 0);

  // The two images (owned from now on).
  void SetImages(TIconHandle Image0, TIconHandle Image1);
  // The two images from icon resources, loaded again at the notification
  // area's DPI whenever it may have changed (a new taskbar, a DPI change).
  void SetImageResources(HINSTANCE Instance, int Id0, int Id1);
  // Loads the resources again at Dpi (0: the DPI of the tray's own window).
  void ReloadImages(int Dpi = 0);
  HICON Image(int Index) const noexcept;
  // Which image is shown (0 or 1).
  void SetImageIndex(int Index);
  int ImageIndex() const noexcept { return FImageIndex; }
  void SetHint(const std::wstring& Hint);
  const std::wstring& Hint() const noexcept { return FHint; }

  // Adds the icon to the notification area (again after a shell restart);
  // when the shell refuses, retries every 2 s for a minute.
  void Show();
  // True while the shell has the icon.
  bool Shown() const noexcept { return FShown; }
  // True while a refused add is being retried.
  bool Retrying() const noexcept { return FRetriesLeft > 0; }

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

  // Installs a stand-in for Shell_NotifyIconW (tests); empty restores the
  // real one. Returns the one installed before.
  static TShellNotifyIconHandler SetShellNotifyIconHandler(TShellNotifyIconHandler Handler);

private:
  LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
  NOTIFYICONDATAW BaseData(UINT Flags) const;
  // Loads the image resources at Dpi (0: the tray window's) without telling the shell.
  bool LoadImages(int Dpi);
  bool TryAdd();
  void StopRetrying();
  void Modify(UINT Flags);
  HICON CurrentIcon() const noexcept;

  HWND FWnd = nullptr;
  UINT FTaskbarCreated = 0;
  HINSTANCE FResourceInstance = nullptr;
  std::array<int, 2> FResourceIds{};
  std::array<TIconHandle, 2> FImages;
  int FImageIndex = 1;
  std::wstring FHint;
  bool FShown = false;
  bool FVersion3 = false; // the shell sends WM_CONTEXTMENU for the menu
  int FRetriesLeft = 0;
};

} // namespace kav
