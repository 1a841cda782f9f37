#pragma once
// The serial channel to the switcher: one COM port opened exclusively with
// overlapped transfers and fixed line settings (38400 8N1, RTS/CTS, DTR off),
// a watcher thread that waits for line events, and hand-over of those events
// to the UI thread, where OnRxChar runs. Every operation is called on the UI
// thread that created the object.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/core/AppError.h"
#include "common/win/MessageOnlyWindow.h"
#include "device/win/SerialDriver.h"
#include "common/win/Handles.h"

namespace kav {

// What failed while the channel serviced its notifications.
enum class TComExceptionKind {
  ClearCommError, // reading the queue count or the line state
  ReadFile,       // reading received bytes
  WaitCommEvent,  // waiting for line events
  DeviceLost,     // the driver reports the device gone; the channel closes
};

// Open or WriteStr failed (and ReadStr when no OnException handler is set).
class EComPortError : public EKavError {
public:
  EComPortError(std::wstring Message, DWORD WinError) : EKavError(std::move(Message)), FWinError(WinError) {}
  DWORD WinError() const noexcept { return FWinError; }

private:
  DWORD FWinError;
};

// Open found the port held by an instance of the program in another session
// (PortClaimName): the port was not touched.
class EComPortInUseElsewhere : public EComPortError {
public:
  using EComPortError::EComPortError;
};

class TComPort {
public:
  using TRxCharEvent = std::function<void(TComPort& Sender, int Count)>;
  using TExceptionEvent =
      std::function<void(TComPort& Sender, TComExceptionKind Kind, const std::wstring& ComportMessage,
                         int64_t WinError, const std::wstring& WinMessage)>;

  // Closed, port name "COM1". Driver: the watcher's driver calls (null: the system's).
  explicit TComPort(std::shared_ptr<TSerialDriver> Driver = nullptr);
  // Closes the port.
  ~TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  // The port name, e.g. "COM5".
  const std::wstring& Port() const noexcept { return FPort; }
  // Same name (exact comparison): nothing. Another name: stored; if connected,
  // the channel is closed and opened on the new name (throws EComPortError if
  // that fails; the channel is then closed).
  void SetPort(const std::wstring& Value);
  // True from a successful Open until Close.
  bool Connected() const noexcept { return FConnected; }
  // True while Close waits for the watcher: messages other threads send are
  // served meanwhile, and nothing may be written then.
  bool Closing() const noexcept { return FClosing; }
  // How many times the port has been opened successfully (diagnostics, tests).
  uint32_t OpenCount() const noexcept { return FGeneration; }

  // Opens the port and starts the watcher; nothing if connected. Throws
  // EComPortError (the channel stays closed) when the port is missing, held
  // by another program or refuses a setting; EComPortInUseElsewhere when an
  // instance in another session holds it. While open, the channel holds the
  // port's machine-wide claim (PortClaimName).
  void Open();
  // Aborts transfers, stops the watcher and releases the port; nothing if
  // closed. Hand-overs the watcher already requested are still served while
  // it waits, so OnRxChar may run inside Close. A watcher that has not ended
  // after about 2 s has the port closed under it, which ends its I/O; Close
  // returns within about 4 s in any case. Called from inside OnRxChar or
  // OnException, the close happens as soon as that handler has returned;
  // called while a close is under way, it is that close.
  void Close();

  // Writes each character as one byte and waits until the transfer ends or the
  // write time-out (100 ms per byte + 1000 ms) cuts it short. Returns the bytes
  // written; when that is fewer than Str holds, the unsent rest has been
  // purged. Throws EComPortError if the transfer cannot start or complete,
  // and while the channel is closing.
  std::size_t WriteStr(const std::string& Str);
  // Reads up to Count bytes that are queued now, without waiting; each byte
  // becomes the char with the same code. Returns the number read. A failure
  // goes to OnException (returning 0) or, without a handler, throws.
  std::size_t ReadStr(std::string& Str, std::size_t Count);

  // Received characters are queued; Count > 0 is the queue size. UI thread.
  TRxCharEvent OnRxChar;
  // A failure found while servicing notifications. UI thread.
  TExceptionEvent OnException;

private:
  struct TWatcher;
  bool HandleWindowMessage(UINT Msg, WPARAM wParam, LPARAM lParam, LRESULT& Result);
  void HandOverEvents(DWORD Events);
  void ReportException(TComExceptionKind Kind, const std::wstring& ComportMessage, DWORD WinError);
  void DoClose();
  // True once the watcher has ended, false after TimeoutMs.
  bool WaitForWatcher(DWORD TimeoutMs);

  std::shared_ptr<TSerialDriver> FDriver;
  std::wstring FPort = L"COM1";
  bool FConnected = false;
  TKernelHandle FHandle;
  TKernelHandle FClaim;
  TKernelHandle FStopEvent;
  TKernelHandle FThread;
  uint32_t FGeneration = 0;   // which open the watcher's posted notices belong to
  int FHandOverDepth = 0;     // > 0 while a hand-over handler runs
  bool FCloseRequested = false;
  bool FClosing = false;      // DoClose is under way
  TMessageOnlyWindow FWindow;
};

} // namespace kav
