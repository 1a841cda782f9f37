#pragma once
// How the serial channel's watcher thread waits for received bytes. A driver
// that waits properly blocks until a line event comes; some drivers end every
// wait at once or after one look at the line, empty-handed (Wine on a
// pseudo-terminal does that). Asking such a driver again and again costs it
// dearly, so after a few such waits the watcher looks at the receive queue
// itself at a steady pace, and after a while tries a real wait again (the
// driver may have changed its mind: another adapter, a resumed PC).
#include <cstdint>

namespace kav {

class TSerialWatchPolicy {
public:
  // A wait that comes back without any event sooner than this, with nothing
  // received, has not waited for anything: the driver only looked at the line.
  static constexpr double KEmptyWaitMs = 100.0;
  // That many such waits in a row and the watcher looks at the queue itself.
  static constexpr int KEmptyWaitsBeforePolling = 2;
  // How often it looks: the user-interface thread decodes on a 10 ms timer anyway.
  static constexpr uint32_t KPollIntervalMs = 10;
  // How long it looks before it tries a real wait again.
  static constexpr uint64_t KPollingPeriodMs = 60000;

  // CanWait: false when the watcher has nothing to wait with (it polls for good).
  explicit TSerialWatchPolicy(bool CanWait) noexcept : FCanWait(CanWait), FPolling(!CanWait) {}

  // True while the watcher looks at the queue instead of waiting.
  bool Polling() const noexcept { return FPolling; }
  // A wait ended with events.
  void WaitDelivered() noexcept { FEmptyWaits = 0; }
  // A wait ended without events after BlockedMs; Received: bytes were queued
  // (the wait ended as they came in). NowMs: a steady clock.
  void WaitEndedEmpty(double BlockedMs, bool Received, uint64_t NowMs) noexcept;
  // The watcher has just looked at the queue while polling, at NowMs.
  void Polled(uint64_t NowMs) noexcept;

private:
  bool FCanWait;
  bool FPolling;
  int FEmptyWaits = 0;
  uint64_t FPollingSince = 0;
};

} // namespace kav
