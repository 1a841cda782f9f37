#pragma once
// How the status window follows the switcher's serial adapter and the PC's
// sleep: which port a device notice names, and how a burst of arrival and
// resume notices folds into one status request.
#include <string>

namespace kav {

// A port name without the device-namespace prefix ("\\.\COM5" is COM5).
std::wstring PlainPortName(const std::wstring& Name);

// True when a port name from a device notice names the stored port. Letter
// case does not matter, and either name may carry the device-namespace
// prefix ("\\.\COM5" is COM5).
bool SamePortName(const std::wstring& Stored, const std::wstring& Reported);

// What a pending refresh of the link does when it is due.
enum class TLinkRefresh {
  None,     // nothing pending
  IfClosed, // some serial port arrived: open the stored one if it exists now and the link is closed
  Reopen,   // the stored port arrived or the PC woke: reopen it (an old handle may be stale)
};

// The pending refresh and the state of the current resume. Each notice
// returns true when a refresh has just become pending, so that the caller
// arms its one-shot timer once per burst.
class TLinkRefreshPlan {
public:
  // The stored port was announced by name.
  bool PortArrived() noexcept { return Ask(TLinkRefresh::Reopen); }
  // A serial port interface arrived (its notice names no port).
  bool InterfaceArrived() noexcept { return Ask(TLinkRefresh::IfClosed); }
  // The PC goes to sleep: the next resume notices belong to a new resume.
  void Suspending() noexcept { FResumeAnswered = false; }
  // Sent on every resume.
  bool ResumedAutomatic() noexcept;
  // Follows the automatic notice when a person is there (the same resume:
  // no second request), or comes alone from older drivers.
  bool ResumedByUser() noexcept;

  TLinkRefresh Pending() const noexcept { return FPending; }
  // The pending refresh; afterwards nothing is pending.
  TLinkRefresh Take() noexcept;

private:
  bool Ask(TLinkRefresh What) noexcept;

  TLinkRefresh FPending = TLinkRefresh::None;
  bool FResumeAnswered = false; // this resume's automatic notice has asked already
};

} // namespace kav
