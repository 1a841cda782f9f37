#pragma once
// What one hot-key press does to the switcher, decided without any window:
// which table entry a WM_HOTKEY identifier belongs to, which command the
// entry's position stands for, and the power-up rule.
#include <cstdint>

#include "app/core/IAv90RDevice.h"
#include "device/core/clsAv90RStatus.h"

namespace kav {

// An entry matches a hot-key message when its identifier equals the message's,
// compared wide enough for both: a negative entry identifier never matches.
constexpr bool HotKeyIdMatches(int32_t EntryId, uint32_t MessageId) noexcept {
  return static_cast<int64_t>(EntryId) == static_cast<int64_t>(MessageId);
}

// The command an entry's position stands for, and what it needs first.
struct THotKeyActionPlan {
  enum class TKind { None, Power, Blackout, SelectChannel };
  TKind Kind = TKind::None;
  bool PowerUpFirst = false; // power the switcher up before the command
  bool Stat = false;         // target state of Power and Blackout
  int32_t Channel = 0;       // input of SelectChannel
};

// Index 0 toggles power, 1 toggles blackout (both from the last reported
// state), 2..9 select inputs 1..8; anything else does nothing. Blackout and
// inputs power the switcher up first when PowerUpOnHotKeyCtrl is set and
// power was last reported off.
THotKeyActionPlan PlanHotKeyAction(int Index, const TAv90RStatus& Stat, bool PowerUpOnHotKeyCtrl) noexcept;

enum class THotKeyActionResult {
  NoAction,  // the index has no action
  Sent,      // the command went out (its own result is not examined)
  PortError, // a power command failed: the port error box is due
};

// Runs a plan. A failed power-up stops the blackout or input command.
// Exceptions of the device pass through to the caller. CommandWritten, when
// given, learns whether the plan's own command went out: a blackout or input
// frame that could not be written is no port error for a hot key, but a
// command from the command line reports it.
THotKeyActionResult ExecuteHotKeyAction(const THotKeyActionPlan& Plan, IAv90RDevice& Device,
                                        bool* CommandWritten = nullptr);

// The deferred start-up with a stored port: moves the link to ComPort,
// powers the switcher up when asked, then requests its status (skipped when
// the power-up failed). False when the port error box is due.
bool RunStartupCommands(const std::wstring& ComPort, bool PowerUpOnAppStart, IAv90RDevice& Device);

} // namespace kav
