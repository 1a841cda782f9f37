#include "device/core/SerialWatchPolicy.h"

namespace kav {

void TSerialWatchPolicy::WaitEndedEmpty(double BlockedMs, bool Received, uint64_t NowMs) noexcept {
  // A wait that took long, or that ended as bytes came in, did its job.
  if (Received || BlockedMs >= KEmptyWaitMs) {
    FEmptyWaits = 0;
    return;
  }
  if (++FEmptyWaits >= KEmptyWaitsBeforePolling) {
    FPolling = true;
    FPollingSince = NowMs;
  }
}

void TSerialWatchPolicy::Polled(uint64_t NowMs) noexcept {
  if (!FCanWait || !FPolling || NowMs - FPollingSince < KPollingPeriodMs) return;
  FPolling = false;
  FEmptyWaits = 0;
}

} // namespace kav
