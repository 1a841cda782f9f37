#pragma once
// The serial driver calls of the channel's watcher thread, one to one with
// the system's. The channel uses the system's own; a test can put in a
// driver that behaves the way some real ones do and the one at hand does
// not (a wait that ends without events, a cancel that is ignored, bytes
// queued before the wait that raise no event).
#include <windows.h>

namespace kav {

class TSerialDriver {
public:
  virtual ~TSerialDriver() = default;

  // SetCommMask.
  virtual BOOL SetMask(HANDLE Port, DWORD Mask) { return ::SetCommMask(Port, Mask); }
  // WaitCommEvent, overlapped.
  virtual BOOL WaitEvent(HANDLE Port, DWORD* Events, OVERLAPPED* Ov) { return ::WaitCommEvent(Port, Events, Ov); }
  // GetOverlappedResult of a wait.
  virtual BOOL WaitResult(HANDLE Port, OVERLAPPED* Ov, DWORD* Transferred, BOOL Wait) {
    return ::GetOverlappedResult(Port, Ov, Transferred, Wait);
  }
  // CancelIoEx of a wait.
  virtual BOOL CancelWait(HANDLE Port, OVERLAPPED* Ov) { return ::CancelIoEx(Port, Ov); }
  // ClearCommError: the queue counts and line errors.
  virtual BOOL QueueState(HANDLE Port, DWORD* Errors, COMSTAT* Stat) { return ::ClearCommError(Port, Errors, Stat); }
};

} // namespace kav
