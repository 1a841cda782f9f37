// The serial channel against the switcher simulator on a pseudo-terminal
// mapped to a COM port of the Wine prefix.
#include "device/win/ComPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "common/win/CallbackGuard.h"
#include "common/win/Handles.h"
#include "common/win/MessageOnlyWindow.h"
#include "device/core/PortClaim.h"
#include "tests/win/support/Av90RSimulator.h"
#include "tests/win/support/MessagePump.h"

using kav::TComPort;
using namespace kavtest;

namespace {

constexpr int kCom = 31;

// A channel whose received bytes are collected on the UI thread.
struct TReceiver {
  TComPort Port;
  std::string Received;
  int Notifications = 0;
  int Exceptions = 0;
  kav::TComExceptionKind LastKind{};

  explicit TReceiver(const std::wstring& Name, std::shared_ptr<kav::TSerialDriver> Driver = nullptr)
      : Port(std::move(Driver)) {
    Port.OnRxChar = [this](TComPort& Sender, int Count) {
      ++Notifications;
      std::string chunk;
      Sender.ReadStr(chunk, static_cast<std::size_t>(Count));
      Received += chunk;
    };
    Port.OnException = [this](TComPort&, kav::TComExceptionKind Kind, const std::wstring&, int64_t,
                              const std::wstring&) {
      ++Exceptions;
      LastKind = Kind;
    };
    Port.SetPort(Name);
  }
};

// Drivers that behave the way some real ones do and Wine's does not.

// A wait that ends only when it is cancelled, as on Windows while no new
// byte arrives: bytes queued before the wait raise no event.
struct TQuietWaitDriver : kav::TSerialDriver {
  std::atomic<int> Waits{0};
  BOOL WaitEvent(HANDLE, DWORD* Events, OVERLAPPED*) override {
    ++Waits;
    *Events = 0;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  BOOL CancelWait(HANDLE, OVERLAPPED* Ov) override { return SetEvent(Ov->hEvent); }
  BOOL WaitResult(HANDLE, OVERLAPPED*, DWORD* Transferred, BOOL) override {
    *Transferred = 0;
    SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
  }
};

// Waits that come back without any event: at once (EndAfterMs 0), or
// aborted by the driver itself after EndAfterMs, as Wine does on a
// pseudo-terminal after one look at the line.
struct TEmptyEventDriver : kav::TSerialDriver {
  explicit TEmptyEventDriver(DWORD EndAfterMs = 0) : EndAfterMs(EndAfterMs) {}
  const DWORD EndAfterMs;
  std::atomic<int> Waits{0};
  std::atomic<int> QueueLooks{0};
  BOOL WaitEvent(HANDLE, DWORD* Events, OVERLAPPED* Ov) override {
    ++Waits;
    *Events = 0;
    if (!EndAfterMs) return TRUE;
    Sleep(EndAfterMs);
    SetEvent(Ov->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  BOOL WaitResult(HANDLE Port, OVERLAPPED* Ov, DWORD* Transferred, BOOL Wait) override {
    if (!EndAfterMs) return kav::TSerialDriver::WaitResult(Port, Ov, Transferred, Wait);
    *Transferred = 0;
    SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
  }
  BOOL QueueState(HANDLE Port, DWORD* Errors, COMSTAT* Stat) override {
    ++QueueLooks;
    return kav::TSerialDriver::QueueState(Port, Errors, Stat);
  }
};

// A quiet wait whose cancel is ignored: it ends only when the port is closed.
struct TStuckWaitDriver : TQuietWaitDriver {
  std::atomic<bool> WaitEnded{false};
  BOOL CancelWait(HANDLE, OVERLAPPED*) override { return TRUE; }
  BOOL WaitResult(HANDLE Port, OVERLAPPED* Ov, DWORD* Transferred, BOOL Wait) override {
    DWORD flags = 0;
    while (Wait && GetHandleInformation(Port, &flags)) Sleep(10);
    WaitEnded = true;
    return TQuietWaitDriver::WaitResult(Port, Ov, Transferred, Wait);
  }
};

std::string AllHighBytesAndNul() {
  std::string s(1, '\0');
  for (int b = 0x80; b <= 0xFF; ++b) s += static_cast<char>(b);
  return s;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

} // namespace

TEST(DeviceComPort, OpenConfiguresAndCloses) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  TReceiver rx(sim.Port());
  EXPECT_FALSE(rx.Port.Connected());
  rx.Port.Open();
  EXPECT_TRUE(rx.Port.Connected());
  EXPECT_EQ(rx.Port.OpenCount(), 1u);
  rx.Port.Open(); // already open: nothing
  EXPECT_EQ(rx.Port.OpenCount(), 1u);
  rx.Port.Close();
  EXPECT_FALSE(rx.Port.Connected());
  rx.Port.Close();
  // A closed channel reopens on the same port.
  rx.Port.Open();
  EXPECT_TRUE(rx.Port.Connected());
  EXPECT_EQ(rx.Port.OpenCount(), 2u);
}

TEST(DeviceComPort, MissingPortFailsAndStaysClosed) {
  TReceiver rx(L"COM39");
  try {
    rx.Port.Open();
    FAIL() << "a missing port opened";
  } catch (const kav::EComPortError& e) {
    EXPECT_NE(e.WinError(), 0u);
    EXPECT_NE(e.Message().find(L"COM39"), std::wstring::npos);
  }
  EXPECT_FALSE(rx.Port.Connected());
  EXPECT_THROW(rx.Port.WriteStr("x"), kav::EComPortError);
}

TEST(DeviceComPort, BytesPassUnchangedBothWays) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  TReceiver rx(sim.Port());
  rx.Port.Open();
  // Device to host: NUL, 0x80..0xFF and the bytes a terminal likes to
  // interpret (CR, LF, XON, XOFF, ^C, ^D, ^Z, ESC).
  const std::string payload = AllHighBytesAndNul() + "\r\n\x11\x13\x03\x04\x1a\x1b\x7f";
  ASSERT_EQ(sim.Command("raw " + Hex(payload)).rfind("ok", 0), 0u);
  ASSERT_TRUE(PumpUntil([&] { return rx.Received.size() >= payload.size(); }, 5000)) << rx.Received.size();
  EXPECT_EQ(Hex(rx.Received), Hex(payload));
  EXPECT_GE(rx.Notifications, 1);

  // Host to device: one frame whose text holds every byte but ESC and CR.
  std::string text;
  for (int b = 0; b <= 0xFF; ++b)
    if (b != 0x1B && b != 0x0D) text += static_cast<char>(b);
  EXPECT_EQ(rx.Port.WriteStr("\x1b" + text + "\r"), text.size() + 2);
  ASSERT_TRUE(PumpUntil([&] { return !sim.Frames().empty(); }, 5000));
  const std::string shown = sim.Command("last");
  std::string expected;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != ',') {
      expected += static_cast<char>(c);
    } else {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04X", c);
      expected += buf;
    }
  }
  // "ok <time> <frame>": the frame itself may contain spaces.
  const std::size_t afterTime = shown.find(' ', 3);
  ASSERT_NE(afterTime, std::string::npos);
  EXPECT_EQ(shown.substr(afterTime + 1), expected);
}

TEST(DeviceComPort, PortHeldByAnotherProgramFailsUntilReleased) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  ASSERT_EQ(sim.Command("hold 1"), "ok");
  TReceiver rx(sim.Port());
  EXPECT_THROW(rx.Port.Open(), kav::EComPortError);
  EXPECT_FALSE(rx.Port.Connected());
  ASSERT_EQ(sim.Command("hold 0"), "ok");
  rx.Port.Open();
  EXPECT_TRUE(rx.Port.Connected());
  EXPECT_EQ(rx.Port.WriteStr("\x1b" "C\r"), 3u);
}

TEST(DeviceComPort, CtsHeldLowEndsTheWriteAfterItsTimeOutWithoutFailure) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  TReceiver rx(sim.Port());
  rx.Port.Open();
  ASSERT_EQ(sim.Command("cts 0"), "ok");
  const ULONGLONG t0 = GetTickCount64();
  const std::size_t written = rx.Port.WriteStr("\x1b" "W1\r");
  const ULONGLONG elapsed = GetTickCount64() - t0;
  EXPECT_LT(written, 4u);
  EXPECT_GE(elapsed, 1300u); // 100 ms x 4 bytes + 1000 ms
  EXPECT_LT(elapsed, 2500u);
  EXPECT_TRUE(rx.Port.Connected());
  ASSERT_EQ(sim.Command("cts 1"), "ok");
  // The unsent rest was purged: once CTS is back, only the next write goes out.
  PumpFor(300);
  EXPECT_EQ(sim.Received(), written);
  EXPECT_EQ(rx.Port.WriteStr("\x1b" "W0\r"), 4u);
  ASSERT_TRUE(PumpUntil([&] { return sim.Received() >= written + 4; }, 5000));
  EXPECT_EQ(sim.Frames(), std::vector<std::string>{"W0"});
}

TEST(DeviceComPort, CloseServesAHandOverThatIsAlreadyWaiting) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  TReceiver rx(sim.Port());
  rx.Port.Open();
  ASSERT_EQ(sim.Command("raw 1B7731 0D").rfind("ok", 0), 0u);
  // The UI thread is busy: the watcher sits in its hand-over, waiting for us.
  Sleep(300);
  const ULONGLONG t0 = GetTickCount64();
  rx.Port.Close();
  EXPECT_LT(GetTickCount64() - t0, 2000u);
  EXPECT_FALSE(rx.Port.Connected());
  // The waiting notification ran inside Close and read the bytes.
  EXPECT_EQ(rx.Received, "\x1b" "w1\r");
}

TEST(DeviceComPort, CloseInsideTheReceiveHandlerHappensRightAfterIt) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  TReceiver rx(sim.Port());
  bool closedInside = false;
  rx.Port.OnRxChar = [&](TComPort& Sender, int Count) {
    std::string chunk;
    Sender.ReadStr(chunk, static_cast<std::size_t>(Count));
    rx.Received += chunk;
    Sender.Close();
    closedInside = true;
  };
  rx.Port.Open();
  ASSERT_EQ(sim.Command("report w1").rfind("ok", 0), 0u);
  ASSERT_TRUE(PumpUntil([&] { return !rx.Port.Connected(); }, 5000));
  EXPECT_TRUE(closedInside);
  EXPECT_EQ(rx.Received, "\x1b" "w1\r");
  rx.Port.Open(); // and it can be opened again
  EXPECT_TRUE(rx.Port.Connected());
}

TEST(DeviceComPort, VanishedDeviceClosesTheChannelOnTheUiThread) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  TReceiver rx(sim.Port());
  rx.Port.Open();
  ASSERT_EQ(sim.Command("vanish"), "ok");
  ASSERT_TRUE(PumpUntil([&] { return !rx.Port.Connected(); }, 5000)) << "the watcher did not notice";
  EXPECT_GE(rx.Exceptions, 1);
  EXPECT_EQ(rx.LastKind, kav::TComExceptionKind::DeviceLost);
  EXPECT_THROW(rx.Port.Open(), kav::EComPortError); // not there yet
  ASSERT_EQ(sim.Command("return").rfind("ok", 0), 0u);
  rx.Port.Open();
  EXPECT_EQ(rx.Port.WriteStr("\x1b" "C\r"), 3u);
  ASSERT_TRUE(PumpUntil([&] { return sim.Frames() == std::vector<std::string>{"C"}; }, 5000));
}

TEST(DeviceComPort, ExceptionsInTheReceiveHandlerGoToTheApplicationHandler) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  TReceiver rx(sim.Port());
  int caught = 0;
  auto previous = kav::SetCallbackExceptionHandler([&](std::exception_ptr) { ++caught; });
  rx.Port.OnRxChar = [&](TComPort& Sender, int Count) {
    std::string chunk;
    Sender.ReadStr(chunk, static_cast<std::size_t>(Count));
    rx.Received += chunk;
    throw std::runtime_error("handler failed");
  };
  rx.Port.Open();
  ASSERT_EQ(sim.Command("report w1").rfind("ok", 0), 0u);
  ASSERT_TRUE(PumpUntil([&] { return caught >= 1; }, 5000));
  // The channel goes on working.
  ASSERT_EQ(sim.Command("report b0").rfind("ok", 0), 0u);
  ASSERT_TRUE(PumpUntil([&] { return rx.Received.size() >= 8; }, 5000));
  EXPECT_TRUE(rx.Port.Connected());
  kav::SetCallbackExceptionHandler(previous);
}


TEST(DeviceComPort, AReplyQueuedBeforeTheWatcherWaitsIsHandedOver) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  // The reply is in the receive queue before the port is even open.
  ASSERT_EQ(sim.Command("raw 1B7731 0D").rfind("ok", 0), 0u);
  auto driver = std::make_shared<TQuietWaitDriver>();
  TReceiver rx(sim.Port(), driver);
  rx.Port.Open();
  ASSERT_TRUE(PumpUntil([&] { return !rx.Received.empty() && driver->Waits > 0; }, 5000));
  PumpFor(100);
  EXPECT_EQ(rx.Received, "\x1b" "w1\r");
  EXPECT_EQ(rx.Notifications, 1);
  const ULONGLONG t0 = GetTickCount64();
  rx.Port.Close();
  EXPECT_LT(GetTickCount64() - t0, 1000u);
}

TEST(DeviceComPort, WaitsWithoutEventsDoNotSpinAndBytesStillArrive) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  for (const DWORD endAfterMs : {0u, 5u}) {
    SCOPED_TRACE(endAfterMs);
    auto driver = std::make_shared<TEmptyEventDriver>(endAfterMs);
    TReceiver rx(sim.Port(), driver);
    rx.Port.Open();
    PumpFor(1000);
    // One wait narrows the mask, two more show the driver cannot wait: from
    // then on the watcher looks at the queue instead of asking again.
    EXPECT_LE(driver->Waits.load(), 3);
    ASSERT_EQ(sim.Command("report w1").rfind("ok", 0), 0u);
    ASSERT_TRUE(PumpUntil([&] { return rx.Received == "\x1b" "w1\r"; }, 5000)) << rx.Received.size();
    EXPECT_LE(driver->Waits.load(), 3);
    const ULONGLONG t0 = GetTickCount64();
    rx.Port.Close();
    EXPECT_LT(GetTickCount64() - t0, 1000u);
  }
}

TEST(DeviceComPort, WaitsThatEndEmptyOnlyNowAndThenAreStillWaits) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  // A driver whose waits end empty-handed after 200 ms: it does wait, and
  // looking at the queue every millisecond instead would cost far more.
  auto driver = std::make_shared<TEmptyEventDriver>(200);
  TReceiver rx(sim.Port(), driver);
  rx.Port.Open();
  PumpFor(1500);
  EXPECT_GE(driver->Waits.load(), 4);
  EXPECT_LE(driver->QueueLooks.load(), driver->Waits.load() + 2);
  ASSERT_EQ(sim.Command("report w1").rfind("ok", 0), 0u);
  ASSERT_TRUE(PumpUntil([&] { return rx.Received == "\x1b" "w1\r"; }, 5000)) << rx.Received.size();
}

TEST(DeviceComPort, CloseEndsAWaitTheDriverWillNotCancelByClosingThePort) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  auto driver = std::make_shared<TStuckWaitDriver>();
  TReceiver rx(sim.Port(), driver);
  rx.Port.Open();
  ASSERT_TRUE(PumpUntil([&] { return driver->Waits > 0; }, 5000));
  const ULONGLONG t0 = GetTickCount64();
  rx.Port.Close();
  const ULONGLONG took = GetTickCount64() - t0;
  EXPECT_GE(took, 1900u); // it did wait for the watcher first
  EXPECT_LT(took, 3500u);
  EXPECT_FALSE(rx.Port.Connected());
  ASSERT_TRUE(PumpUntil([&] { return driver->WaitEnded.load(); }, 2000)) << "the watcher's wait never ended";
  // The port was released: another channel opens it and works.
  TReceiver other(sim.Port());
  other.Port.Open();
  ASSERT_EQ(sim.Command("report b0").rfind("ok", 0), 0u);
  ASSERT_TRUE(PumpUntil([&] { return other.Received == "\x1b" "b0\r"; }, 5000)) << other.Received.size();
}

namespace {

// A quiet driver whose first look at the queue hangs until released, then
// reports a byte queued; it counts every call made once the channel has
// given up on its watcher.
struct THangingLookDriver : TQuietWaitDriver {
  std::atomic<bool> Hold{true};
  std::atomic<bool> Looking{false};
  std::atomic<bool> Abandoned{false};
  std::atomic<int> CallsAfterAbandon{0};
  void Count() {
    if (Abandoned) ++CallsAfterAbandon;
  }
  BOOL SetMask(HANDLE, DWORD) override {
    Count();
    return TRUE;
  }
  BOOL QueueState(HANDLE, DWORD* Errors, COMSTAT* Stat) override {
    Count();
    Looking = true;
    while (Hold) Sleep(5);
    *Errors = 0;
    *Stat = COMSTAT{};
    Stat->cbInQue = 1;
    return TRUE;
  }
  BOOL WaitEvent(HANDLE Port, DWORD* Events, OVERLAPPED* Ov) override {
    Count();
    return TQuietWaitDriver::WaitEvent(Port, Events, Ov);
  }
  BOOL CancelWait(HANDLE Port, OVERLAPPED* Ov) override {
    Count();
    return TQuietWaitDriver::CancelWait(Port, Ov);
  }
};

} // namespace

TEST(DeviceComPort, AWatcherThatCloseGaveUpOnTouchesThePortNoMore) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  auto driver = std::make_shared<THangingLookDriver>();
  {
    TReceiver rx(sim.Port(), driver);
    rx.Port.Open();
    ASSERT_TRUE(PumpUntil([&] { return driver->Looking.load(); }, 5000));
    rx.Port.Close(); // the watcher hangs in the driver: closed under it, then left to itself
    EXPECT_FALSE(rx.Port.Connected());
  }
  driver->Abandoned = true;
  driver->Hold = false; // it comes back late, with a byte "queued"
  PumpFor(500);
  EXPECT_EQ(driver->CallsAfterAbandon.load(), 0) << "the old handle value may belong to the next open";
}

TEST(DeviceComPort, APortClaimedInAnotherSessionIsLeftAlone) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  TReceiver rx(sim.Port());
  const std::wstring claim = kav::PortClaimName(sim.Port());
  {
    // Another session's instance has the port, and with it the claim.
    const kav::TKernelHandle other(CreateMutexW(nullptr, FALSE, claim.c_str()));
    ASSERT_TRUE(other.Valid());
    EXPECT_THROW(rx.Port.Open(), kav::EComPortInUseElsewhere);
    EXPECT_FALSE(rx.Port.Connected());
    // Left free for the one that has the claim.
    const kav::TKernelHandle raw(CreateFileW((L"\\\\.\\" + sim.Port()).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    EXPECT_TRUE(raw.Valid());
  }
  // Ours while the port is open, nobody's once it is closed.
  rx.Port.Open();
  EXPECT_TRUE(kav::TKernelHandle(OpenMutexW(SYNCHRONIZE, FALSE, claim.c_str())).Valid());
  rx.Port.Close();
  EXPECT_FALSE(kav::TKernelHandle(OpenMutexW(SYNCHRONIZE, FALSE, claim.c_str())).Valid());
}

TEST(DeviceComPort, AMessageServedWhileClosingNeitherWritesNorClosesAgain) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom);
  auto driver = std::make_shared<TStuckWaitDriver>(); // Close waits for this watcher about 2 s
  TReceiver rx(sim.Port(), driver);
  rx.Port.Open();
  ASSERT_TRUE(PumpUntil([&] { return driver->Waits > 0; }, 5000));
  bool served = false, closing = false, wrote = false;
  // Another process's command, sent while Close waits for the watcher.
  kav::TMessageOnlyWindow target([&](UINT Msg, WPARAM, LPARAM, LRESULT& Result) {
    if (Msg != WM_APP) return false;
    served = true;
    closing = rx.Port.Closing();
    rx.Port.Close(); // the close under way is this close
    try {
      rx.Port.WriteStr("\x1b" "W1\r");
      wrote = true;
    } catch (const kav::EComPortError&) {
    }
    Result = 0;
    return true;
  });
  std::thread sender([&] {
    Sleep(500);
    SendMessageW(target.Handle(), WM_APP, 0, 0);
  });
  rx.Port.Close();
  sender.join();
  EXPECT_TRUE(served && closing);
  EXPECT_FALSE(wrote);
  EXPECT_FALSE(rx.Port.Connected());
  PumpFor(300);
  EXPECT_TRUE(sim.Frames().empty());
}
