#pragma once
// The network remote, Windows side: an HTTP server (Boost.Beast over
// Boost.Asio) on a thread of its own, started only when the settings file's
// [Remote] section names a port. It never touches a window or the device:
// a command goes to the application window as WM_COPYDATA, exactly as a
// second start hands one over (ServeRemoteCommand), and the status it serves
// is the snapshot the UI thread publishes when a shown value changes. Idle,
// its thread sleeps in the completion port without waking.
//
// Beast and Asio are confined to HttpRemoteServer.cpp (their compile time).
#include <windows.h>

#include <memory>
#include <string>

#include "app/core/HttpRemoteSettings.h"
#include "app/core/RemoteCommand.h"

namespace kav {

class THttpRemoteServer {
public:
  // Listens on Settings' address and port and serves; commands go to
  // AppWindow. Never throws: Listening() and LogText() tell how it went.
  THttpRemoteServer(const THttpRemoteSettings& Settings, HWND AppWindow);
  // Stops the thread; serves messages sent to this thread meanwhile, so a
  // command under way cannot hold the stop up.
  ~THttpRemoteServer();
  THttpRemoteServer(const THttpRemoteServer&) = delete;
  THttpRemoteServer& operator=(const THttpRemoteServer&) = delete;

  bool Listening() const noexcept;
  // The log line of the start: where it listens, or why it cannot.
  const std::wstring& LogText() const noexcept;

  // UI thread: takes the values the status window shows now (through
  // Target's GetRemoteStatus) and wakes the event streams when they changed.
  void PublishStatus(const IRemoteCommandTarget& Target) noexcept;

private:
  class TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// Reads [Remote] from the settings file once: nothing when HttpPort is 0 or
// missing; otherwise one log line (listening, refused settings or a taken
// port) and the server when it listens. Never shows a box.
std::unique_ptr<THttpRemoteServer> StartHttpRemote(HWND AppWindow);

} // namespace kav
