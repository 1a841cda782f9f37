#pragma once
// Remote control from the command line. A start of the program with one
// command ("/power on", "/input 2", "/status", "/exit" ...) hands the command to the
// running instance instead of bringing it to the front, so that scheduled
// tasks, scripts and button boxes can drive the switcher. This is the part
// that needs no window: reading the arguments, the bytes that travel between
// the two processes, what a command does to the switcher, the status line,
// the usage text and the exit codes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/core/HotKeyDispatch.h"
#include "device/core/clsAv90RStatus.h"

namespace kav {

enum class TRemoteCommandKind : uint32_t { Power = 1, Blackout = 2, Input = 3, HotKey = 4, Status = 5, Exit = 6 };

// Values of Power, Blackout (all three) and HotKey (off and on).
inline constexpr int32_t KRemoteOff = 0;
inline constexpr int32_t KRemoteOn = 1;
inline constexpr int32_t KRemoteToggle = 2;

struct TRemoteCommand {
  TRemoteCommandKind Kind = TRemoteCommandKind::Status;
  int32_t Value = 0; // off/on/toggle; the input 1..8; 0 for Status and Exit
  friend bool operator==(const TRemoteCommand&, const TRemoteCommand&) = default;
};

// Whether Value is one that Kind takes.
bool IsValidRemoteCommand(const TRemoteCommand& Command) noexcept;

// What a command line asks for.
struct TRemoteCommandLine {
  enum class TKind {
    None,      // no command word: the program behaves as it always did
    Command,   // exactly one well-formed command
    Malformed, // a command word with a bad or missing value, two commands, or stray text beside one
  };
  TKind Kind = TKind::None;
  TRemoteCommand Command; // meaningful when Kind is Command
};

// Args: the arguments after the program path, split as Windows splits them.
// Command words and values are matched without regard to case. "/debug" and
// "/nonio" may stand beside a command, and so may "/HANDLE" with the argument
// after it (its value); any other text beside a command makes the line
// malformed, while without a command word it is ignored as before.
TRemoteCommandLine ParseRemoteCommandLine(const std::vector<std::wstring>& Args);

// A start with a command while nothing runs starts the resident program as a
// process of its own and hands the command over, so that it ends itself (a
// scheduled task or a script waits for it). The resident program gets the
// switches of this start that it understands ("/debug", "/nonio", as given),
// and nothing else.
std::vector<std::wstring> ResidentStartArguments(const std::vector<std::wstring>& Args);

// ---------------------------------------------------------------------------
// Hand-over between the two processes (WM_COPYDATA).

// dwData of a command sent to the running instance, and of the status the
// running instance sends back to the window named in the message's WPARAM.
inline constexpr uint32_t KCopyDataRemoteCommand = 0x4B415643; // "KAVC"
inline constexpr uint32_t KCopyDataRemoteStatus = 0x4B415653;  // "KAVS"

// The running instance's answer, returned as the result of the message. An
// instance that does not know commands answers 0.
enum class TRemoteAnswer : int32_t {
  NotUnderstood = 0,
  Done = 1,     // carried out (the status has been sent back)
  NotDone = 2,  // the port could not be opened or written, or a hot key could not be registered
  Busy = 3,     // a dialog, question or message box is open: nothing was done
  Starting = 4, // the deferred start-up has not run yet: ask again shortly
};

using TRemoteBytes = std::vector<uint8_t>;

// A command as 12 bytes: format 1, kind, value (32-bit little-endian each).
TRemoteBytes EncodeRemoteCommand(const TRemoteCommand& Command);
// The command in Data, or nothing unless Data is exactly a valid command.
std::optional<TRemoteCommand> DecodeRemoteCommand(const void* Data, std::size_t Size);

// The running instance's state as the status line shows it.
struct TRemoteStatus {
  bool Power = false;
  bool Blackout = false;
  int32_t Input = 0; // 0 until the switcher has reported an input
  bool HotKey = false;
  std::wstring Port; // the stored COM port; empty when none is stored
  friend bool operator==(const TRemoteStatus&, const TRemoteStatus&) = default;
};

// Longest port name the status carries (UTF-8 bytes).
inline constexpr std::size_t KRemotePortMaxBytes = 256;

// Format 1, the three flags and a zero byte, the input, the port's length in
// bytes and the port in UTF-8. A port name longer than KRemotePortMaxBytes
// or with control characters is sent empty rather than broken.
TRemoteBytes EncodeRemoteStatus(const TRemoteStatus& Status);
// The status in Data, or nothing unless Data is exactly a valid status.
std::optional<TRemoteStatus> DecodeRemoteStatus(const void* Data, std::size_t Size);

// "power=on blackout=off input=3 hotkey=on port=COM5", without a line end.
std::wstring FormatRemoteStatusLine(const TRemoteStatus& Status);

// ---------------------------------------------------------------------------
// What the running program does.

// The switcher command of Power, Blackout and Input, planned like the
// matching hot key (toggles from the last reported state, the power-up rule
// before blackout and input) but with the state the command names where it
// names one. HotKey and Status plan nothing.
THotKeyActionPlan PlanRemoteCommand(const TRemoteCommand& Command, const TAv90RStatus& Stat,
                                    bool PowerUpOnHotKeyCtrl) noexcept;

// What the running instance offers to commands from the command line (its
// status window).
class IRemoteCommandTarget {
public:
  virtual ~IRemoteCommandTarget() = default;
  // Carries out Power, Blackout, Input, HotKey or Exit, or says why not.
  // Exit ends the message loop; the process ends after the answer.
  virtual TRemoteAnswer DoProcess_RemoteCommand(const TRemoteCommand& Command) = 0;
  // Fills Status and answers Done, or answers why not.
  virtual TRemoteAnswer GetRemoteStatus(TRemoteStatus& Status) const = 0;
};

// Exit codes of a start with a command.
inline constexpr int KRemoteExitDone = 0;
inline constexpr int KRemoteExitNotDone = 1;
inline constexpr int KRemoteExitMalformed = 2;
inline constexpr int KRemoteExitBusy = 3;

// The exit code for the running instance's answer. Starting counts as busy
// (the caller gave up waiting); anything unknown as not done.
int RemoteExitCode(TRemoteAnswer Answer) noexcept;

// A command that must not start the program when no instance runs, with its
// exit code: /status has nobody to ask (1), /exit nothing to end (0). Nothing
// for the others: their start becomes the resident program and carries them
// out after its start-up.
std::optional<int> RemoteExitCodeWithNothingRunning(const TRemoteCommand& Command) noexcept;

// The usage shown for a malformed command line (ExeFileName: the program's
// file name, ModelName: "KTX-AV90R").
std::wstring RemoteUsageText(const std::wstring& ExeFileName, const std::wstring& ModelName);

} // namespace kav
