#include "device/win/ComPort.h"

#include <memory>

#include "common/core/ScopedFlag.h"
#include "common/win/CallbackGuard.h"
#include "common/win/KCL_SystemMessage.h"
#include "common/win/ModalLoop.h"
#include "device/core/PortClaim.h"
#include "device/core/SerialWatchPolicy.h"

namespace kav {

namespace {

// Watcher -> UI thread. Each carries the generation of the open it belongs to,
// so a notice that arrives after the port was closed (or reopened) is ignored.
constexpr UINT WM_KAV_COMEVENT = WM_APP + 0x21; // sent: wParam = event mask
constexpr UINT WM_KAV_COMLOST = WM_APP + 0x22;  // posted: wParam = Windows error
constexpr UINT WM_KAV_COMCLOSE = WM_APP + 0x23; // posted: Close asked for inside a handler

constexpr DWORD kQueueSize = 1024;
constexpr DWORD kAllEvents = EV_RXCHAR | EV_TXEMPTY | EV_RXFLAG | EV_RING | EV_BREAK | EV_CTS | EV_DSR | EV_ERR |
                             EV_RLSD | EV_RX80FULL;
constexpr DWORD kWriteTimeoutPerByteMs = 100;
constexpr DWORD kWriteTimeoutConstMs = 1000;
// How long Close waits for the watcher before it closes the port under it,
// and again after that.
constexpr DWORD kWatcherStopMs = 2000;

EComPortError PortError(const std::wstring& What, const std::wstring& Port, DWORD Error) {
  return EComPortError(Port + L": " + What + L" (" + SystemErrorMessage(Error) + L")", Error);
}

// Waits for an overlapped transfer for at most TimeoutMs, then cancels it.
// Returns false with Error set if the transfer failed; a transfer we had to
// cancel is not a failure (TimedOut is set, Transferred says what got through).
bool FinishOverlapped(HANDLE Port, OVERLAPPED& Ov, DWORD TimeoutMs, DWORD& Transferred, DWORD& Error,
                      bool& TimedOut) {
  Transferred = 0;
  Error = 0;
  TimedOut = WaitForSingleObject(Ov.hEvent, TimeoutMs) != WAIT_OBJECT_0;
  if (TimedOut) CancelIoEx(Port, &Ov);
  if (GetOverlappedResult(Port, &Ov, &Transferred, TRUE)) return true;
  Error = GetLastError();
  // Windows completes a transfer cut short by the port's time-outs as a
  // success with fewer bytes; Wine reports ERROR_TIMEOUT for the same thing.
  if (Error == ERROR_TIMEOUT || (TimedOut && Error == ERROR_OPERATION_ABORTED)) {
    Error = 0;
    return true;
  }
  return false;
}

} // namespace

// What the watcher thread needs; it owns this and touches nothing else of the channel.
struct TComPort::TWatcher {
  HANDLE Port;
  TKernelHandle Stop; // its own handle of the stop event, valid as long as the thread runs
  HWND Target;
  uint32_t Generation;
  std::shared_ptr<TSerialDriver> Driver;

  static DWORD WINAPI ThreadProc(void* Param) {
    std::unique_ptr<TWatcher> self(static_cast<TWatcher*>(Param));
    try {
      self->Run();
    } catch (...) {
      // Nothing in Run throws; should it ever, the channel closes like a lost device.
      self->Lost(ERROR_GEN_FAILURE);
    }
    return 0;
  }

  void Lost(DWORD Error) { PostMessageW(Target, WM_KAV_COMLOST, Error, static_cast<LPARAM>(Generation)); }

  // Milliseconds since Start, on the fine clock.
  static double WaitBlockedMs(const LARGE_INTEGER& Start) {
    LARGE_INTEGER now{}, freq{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return freq.QuadPart ? 1000.0 * static_cast<double>(now.QuadPart - Start.QuadPart) / static_cast<double>(freq.QuadPart) : 0.0;
  }

  // Close may give up on a watcher and close the port under it; the handle
  // value may then belong to the next open. So every driver call is preceded
  // by a look at the stop request, and a stopped watcher touches nothing.
  bool Stopping() const { return WaitForSingleObject(Stop.Get(), 0) == WAIT_OBJECT_0; }

  void HandOver(DWORD Events) {
    // Synchronous: the UI thread reads the queue before we look for more.
    SendMessageW(Target, WM_KAV_COMEVENT, Events, static_cast<LPARAM>(Generation));
  }

  // Hands received bytes over if any are queued (Received says whether).
  // False when the port no longer answers: the device is gone and the UI
  // thread has been told.
  bool LookAtQueue(bool* Received = nullptr) {
    COMSTAT stat{};
    DWORD errors = 0;
    if (Stopping()) return false;
    if (!Driver->QueueState(Port, &errors, &stat)) {
      Lost(GetLastError());
      return false;
    }
    if (Received) *Received = stat.cbInQue != 0;
    if (stat.cbInQue) HandOver(EV_RXCHAR);
    return true;
  }

  void Run() {
    TKernelHandle waitEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD mask = kAllEvents;
    TSerialWatchPolicy policy(waitEvent.Valid());
    if (Stopping()) return;
    if (!Driver->SetMask(Port, mask)) {
      mask = EV_RXCHAR;
      if (Stopping()) return;
      Driver->SetMask(Port, mask);
    }
    // Events count from the mask on: a reply that arrived while the port was
    // being opened raises none and would wait for the next byte.
    if (!LookAtQueue()) return;
    for (;;) {
      if (Stopping()) return;
      if (policy.Polling()) {
        // Fallback for drivers that cannot wait for line events (see below).
        if (WaitForSingleObject(Stop.Get(), TSerialWatchPolicy::KPollIntervalMs) != WAIT_TIMEOUT) return;
        if (!LookAtQueue()) return;
        policy.Polled(GetTickCount64());
        continue;
      }

      OVERLAPPED ov{};
      ov.hEvent = waitEvent.Get();
      ResetEvent(ov.hEvent);
      DWORD events = 0;
      DWORD error = 0;
      LARGE_INTEGER waitStart{};
      QueryPerformanceCounter(&waitStart);
      if (!Driver->WaitEvent(Port, &events, &ov)) {
        error = GetLastError();
        if (error == ERROR_IO_PENDING) {
          const HANDLE handles[2] = {Stop.Get(), ov.hEvent};
          const DWORD w = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
          if (w != WAIT_OBJECT_0 + 1) {
            // Our own wait must end before this thread does (and before
            // `events` goes away). A driver that ignores the cancel keeps
            // us here until Close gives up on us and closes the port.
            Driver->CancelWait(Port, &ov);
            DWORD n = 0;
            Driver->WaitResult(Port, &ov, &n, TRUE);
            return;
          }
          // The wait has completed (its event is set): nothing of it is left
          // in flight when a stopped watcher leaves here.
          if (Stopping()) return;
          DWORD n = 0;
          error = Driver->WaitResult(Port, &ov, &n, FALSE) ? 0 : GetLastError();
        }
      }
      const double blockedMs = WaitBlockedMs(waitStart);
      if (Stopping()) return;
      if (!error && events) {
        policy.WaitDelivered();
        HandOver(events);
        continue;
      }
      // A failed wait, or one that came back without any event (a driver
      // does that when the mask changes under it): no events to hand over,
      // but the queue may hold bytes, and a port that no longer answers
      // means the device is gone (unplugged adapter: ERROR_ACCESS_DENIED,
      // ERROR_BAD_COMMAND, ...).
      if (mask != EV_RXCHAR) {
        // Some drivers refuse to wait for line events they cannot watch
        // (modem lines of a port without them): received characters are
        // all the channel needs.
        mask = EV_RXCHAR;
        if (Stopping()) return;
        Driver->SetMask(Port, mask);
        if (!LookAtQueue()) return;
        continue;
      }
      bool received = false;
      if (!LookAtQueue(&received)) return;
      // A driver that cannot block until a character arrives ends each wait
      // by itself, soon and empty-handed: at once, or after one look at the
      // line (Wine on a pseudo-terminal gives up after about a millisecond,
      // and starts and ends a thread of its own for every wait, which costs
      // it memory each time). Waiting again would only repeat that, so after
      // a few such waits in a row the watcher looks at the queue itself
      // instead (TSerialWatchPolicy). A driver that waits properly never
      // ends a wait empty unless we cancel it, so this costs it nothing.
      policy.WaitEndedEmpty(blockedMs, received, GetTickCount64());
    }
  }
};

TComPort::TComPort(std::shared_ptr<TSerialDriver> Driver)
    : FDriver(Driver ? std::move(Driver) : std::make_shared<TSerialDriver>()),
      FWindow([this](UINT Msg, WPARAM wParam, LPARAM lParam, LRESULT& Result) {
        return HandleWindowMessage(Msg, wParam, lParam, Result);
      }) {}

TComPort::~TComPort() {
  OnRxChar = nullptr;
  OnException = nullptr;
  FHandOverDepth = 0; // nothing can be inside a handler of ours any more
  DoClose();
}

void TComPort::SetPort(const std::wstring& Value) {
  if (Value == FPort) return;
  FPort = Value;
  if (FConnected) {
    Close();
    Open();
  }
}

void TComPort::Open() {
  if (FConnected) return;
  // The port's claim first: another session's instance that has the port
  // keeps it, and nothing of ours touches it (not even a failed open).
  TKernelHandle claim(CreateMutexW(nullptr, FALSE, PortClaimName(FPort).c_str()));
  const DWORD claimError = GetLastError();
  // A claim that exists but refuses us was made by another account.
  if (claim ? claimError == ERROR_ALREADY_EXISTS : claimError == ERROR_ACCESS_DENIED)
    throw EComPortInUseElsewhere(FPort + L": 別のセッションで使用中です", ERROR_BUSY);
  // The device namespace name also reaches COM10 and above.
  const std::wstring path = L"\\\\.\\" + FPort;
  TKernelHandle port(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
  if (!port) throw PortError(L"ポートを開けません", FPort, GetLastError());

  if (!SetupComm(port.Get(), kQueueSize, kQueueSize))
    throw PortError(L"送受信バッファを設定できません", FPort, GetLastError());

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port.Get(), &dcb)) throw PortError(L"回線設定を読めません", FPort, GetLastError());
  dcb.BaudRate = CBR_38400;
  dcb.fBinary = TRUE;            // NUL and every other byte pass unchanged
  dcb.fParity = FALSE;           // no parity checking
  dcb.fOutxCtsFlow = TRUE;       // the switcher pauses us by dropping CTS
  dcb.fOutxDsrFlow = FALSE;      // DSR is not wired for flow control
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;   // receive whatever DSR says
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fOutX = FALSE;             // no XON/XOFF either way
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;        // no replacement of bad bytes
  dcb.fNull = FALSE;             // keep NUL bytes
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = FALSE;
  dcb.XonLim = kQueueSize / 4;
  dcb.XoffLim = kQueueSize / 4;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = 0;
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  if (!SetCommState(port.Get(), &dcb)) throw PortError(L"回線設定を適用できません", FPort, GetLastError());

  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD; // with both totals 0: return at once with what is queued
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
  timeouts.WriteTotalTimeoutConstant = kWriteTimeoutConstMs;
  if (!SetCommTimeouts(port.Get(), &timeouts))
    throw PortError(L"タイムアウトを設定できません", FPort, GetLastError());

  TKernelHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop) throw PortError(L"停止イベントを作成できません", FPort, GetLastError());

  HANDLE watcherStop = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), stop.Get(), GetCurrentProcess(), &watcherStop, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    throw PortError(L"停止イベントを作成できません", FPort, GetLastError());
  const uint32_t generation = FGeneration + 1;
  auto* watcher = new TWatcher{port.Get(), TKernelHandle(watcherStop), FWindow.Handle(), generation, FDriver};
  TKernelHandle thread(CreateThread(nullptr, 0, &TWatcher::ThreadProc, watcher, 0, nullptr));
  if (!thread) {
    const DWORD error = GetLastError();
    delete watcher;
    throw PortError(L"監視スレッドを開始できません", FPort, error);
  }
  FGeneration = generation;
  FClaim = std::move(claim);
  FHandle = std::move(port);
  FStopEvent = std::move(stop);
  FThread = std::move(thread);
  FCloseRequested = false;
  FConnected = true;
}

void TComPort::Close() {
  if (!FConnected || FClosing) return;
  if (FHandOverDepth > 0) {
    // The watcher waits for this very handler to return: it cannot be joined
    // from here. Close right after the handler instead.
    if (!FCloseRequested) {
      FCloseRequested = true;
      PostMessageW(FWindow.Handle(), WM_KAV_COMCLOSE, 0, static_cast<LPARAM>(FGeneration));
    }
    return;
  }
  DoClose();
}

void TComPort::DoClose() {
  if (FClosing) return;
  if (!FConnected || !FThread) {
    FConnected = false;
    return;
  }
  const TScopedFlag closing(FClosing);
  // Reads and writes are synchronous on this thread, so the only transfer in
  // flight is the watcher's wait, which the watcher cancels itself (overlapped
  // requests belong to the thread that issued them).
  SetEvent(FStopEvent.Get());
  if (WaitForWatcher(kWatcherStopMs)) {
    // Only now: Wine's PurgeComm(PURGE_RXABORT) empties the receive queue,
    // which would rob a hand-over that is still waiting of its bytes.
    SetCommMask(FHandle.Get(), 0);
    PurgeComm(FHandle.Get(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  } else {
    // The driver keeps the watcher's wait although it was cancelled. Closing
    // the port ends every transfer on it, that wait included. Should the
    // thread still not end, it is left to itself: it holds its own stop
    // event and touches the port no more once stopped.
    FHandle.Reset();
    WaitForWatcher(kWatcherStopMs);
  }
  FThread.Reset();
  FStopEvent.Reset();
  FHandle.Reset();
  FClaim.Reset();
  FCloseRequested = false;
  FConnected = false;
}

bool TComPort::WaitForWatcher(DWORD TimeoutMs) {
  // The watcher may be inside SendMessage to us: keep serving sent messages
  // while waiting, or both threads would wait for each other.
  return PumpUntil(nullptr, TimeoutMs, TPumpMessages::SentOnly, FThread.Get()) == TPumpResult::Done;
}

std::size_t TComPort::WriteStr(const std::string& Str) {
  if (!FConnected) throw PortError(L"ポートが開いていません", FPort, ERROR_INVALID_HANDLE);
  if (FClosing) throw PortError(L"ポートを閉じています", FPort, ERROR_BUSY);
  if (Str.empty()) return 0;
  TKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) throw PortError(L"書き込みを開始できません", FPort, GetLastError());
  OVERLAPPED ov{};
  ov.hEvent = done.Get();
  const DWORD count = static_cast<DWORD>(Str.size());
  if (!WriteFile(FHandle.Get(), Str.data(), count, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING)
    throw PortError(L"書き込みを開始できません", FPort, GetLastError());
  // The driver's write time-out ends the transfer; the extra margin only
  // guards against a driver that ignores it.
  const DWORD limit = kWriteTimeoutPerByteMs * count + kWriteTimeoutConstMs + 2000;
  DWORD written = 0, error = 0;
  bool timedOut = false;
  if (!FinishOverlapped(FHandle.Get(), ov, limit, written, error, timedOut))
    throw PortError(L"書き込みに失敗しました", FPort, error);
  // Cut short (CTS held low): what did not leave must never leave later, or
  // the switcher would get the stale rest of a frame in front of the next.
  if (written < count) PurgeComm(FHandle.Get(), PURGE_TXABORT | PURGE_TXCLEAR);
  return written;
}

std::size_t TComPort::ReadStr(std::string& Str, std::size_t Count) {
  Str.clear();
  if (!FConnected || Count == 0) return 0;
  Str.resize(Count);
  DWORD got = 0, error = 0;
  TKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) {
    error = GetLastError();
  } else {
    OVERLAPPED ov{};
    ov.hEvent = done.Get();
    if (!ReadFile(FHandle.Get(), Str.data(), static_cast<DWORD>(Count), nullptr, &ov) &&
        GetLastError() != ERROR_IO_PENDING) {
      error = GetLastError();
    } else {
      // Reads return at once by the time-outs set at Open; bound it anyway.
      bool timedOut = false;
      FinishOverlapped(FHandle.Get(), ov, 1000, got, error, timedOut);
    }
  }
  Str.resize(got);
  if (error) {
    ReportException(TComExceptionKind::ReadFile, FPort + L": 受信データを読めません", error);
    return got;
  }
  return got;
}

void TComPort::ReportException(TComExceptionKind Kind, const std::wstring& ComportMessage, DWORD WinError) {
  if (!OnException) throw EComPortError(ComportMessage, WinError);
  OnException(*this, Kind, ComportMessage, static_cast<int64_t>(WinError), SystemErrorMessage(WinError));
}

void TComPort::HandOverEvents(DWORD Events) {
  if (!(Events & EV_RXCHAR)) return; // no other line event has a use here
  COMSTAT stat{};
  DWORD errors = 0;
  if (!ClearCommError(FHandle.Get(), &errors, &stat)) {
    ReportException(TComExceptionKind::ClearCommError, FPort + L": 受信キューを確認できません", GetLastError());
    return;
  }
  if (stat.cbInQue > 0 && OnRxChar) OnRxChar(*this, static_cast<int>(stat.cbInQue));
}

bool TComPort::HandleWindowMessage(UINT Msg, WPARAM wParam, LPARAM lParam, LRESULT& Result) {
  const bool current = FConnected && static_cast<uint32_t>(lParam) == FGeneration;
  switch (Msg) {
  case WM_KAV_COMEVENT:
    Result = 0;
    if (current && FHandle) {
      ++FHandOverDepth;
      GuardCallback([&] { HandOverEvents(static_cast<DWORD>(wParam)); });
      --FHandOverDepth;
    }
    return true;
  case WM_KAV_COMLOST:
    Result = 0;
    if (current) {
      GuardCallback([&] {
        ReportException(TComExceptionKind::DeviceLost, FPort + L": デバイスが応答しません", static_cast<DWORD>(wParam));
      });
      Close();
    }
    return true;
  case WM_KAV_COMCLOSE:
    Result = 0;
    if (current && FCloseRequested) {
      FCloseRequested = false;
      Close(); // posts itself again if this runs inside a handler
    }
    return true;
  default:
    return false;
  }
}

} // namespace kav
