#pragma once
// The application object: the hidden top-level window that owns every window
// of the program, carries the application title and keeps the program off
// the taskbar (its extended style is exactly WS_EX_TOOLWINDOW), plus the
// message loop and the standard exception box. It also keeps the creating
// (user-interface) thread in a single-threaded COM apartment for its lifetime.
//
// Window class "TApplication", never shown.
#include <windows.h>

#include <exception>
#include <functional>
#include <string>

namespace kav {

class TApplication {
public:
  static const wchar_t KWindowClass[];

  // Creates the hidden application window with the tool-window style already
  // set, before any other window of the program exists.
  explicit TApplication(HINSTANCE Instance);
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  HWND Handle() const noexcept { return FHandle; }
  HINSTANCE Instance() const noexcept { return FInstance; }

  // The application title (window text of the application window).
  std::wstring Title() const;
  void SetTitle(const std::wstring& Value);

  // Sets the application window's extended style to exactly WS_EX_TOOLWINDOW.
  // Done before each window or dialog of the program is shown.
  void SetToolWindowStyle();

  // Runs the message loop until Terminate; returns the exit code.
  int Run();
  // Ends the message loop (harmless when it has already been asked to end).
  void Terminate();
  bool Terminated() const noexcept { return FTerminated; }

  // The standard exception box: the message of E (the innermost non-empty one
  // of a nested chain), a full stop added by the usual rule, caption = the
  // application title, error icon, OK button; owned by the application window.
  void ShowException(const std::exception_ptr& E);

  // Run when Windows, Restart Manager or an installer ends the session
  // (WM_ENDSESSION with a true flag, also forwarded by the status window):
  // the program tears itself down there, and the process ends right after.
  void SetEndSessionHandler(std::function<void()> Handler) { FOnEndSession = std::move(Handler); }

  // The command line handed over by a second start (ignored by the program;
  // kept for tests).
  const std::wstring& LastHandedOverCommandLine() const noexcept { return FHandedOver; }

  // Answers every other WM_COPYDATA (a command of a second start): gets the
  // message's WPARAM and data, returns the message's result. Without a
  // handler such messages are ignored.
  using TCopyDataHandler = std::function<LRESULT(WPARAM, const COPYDATASTRUCT&)>;
  void SetCopyDataHandler(TCopyDataHandler Handler) { FOnCopyData = std::move(Handler); }

private:
  LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);

  HINSTANCE FInstance;
  HWND FHandle = nullptr;
  bool FTerminated = false;
  bool FComInitialized = false;
  std::function<void()> FOnEndSession;
  std::wstring FHandedOver;
  TCopyDataHandler FOnCopyData;
};

// The one application object while it exists (null otherwise).
TApplication* Application() noexcept;

// WM_COPYDATA tag of a command line handed over by a second start.
inline constexpr ULONG_PTR KCopyDataCommandLine = 0x4B415652; // "KAVR"

} // namespace kav
