#pragma once
// Remote control from the command line, Windows side. A start with a command
// finds the running instance through the single-instance guard and hands the
// command over with WM_COPYDATA (tag KCopyDataRemoteCommand, WPARAM = a
// message-only window of the sender). The running instance answers through
// the message's result (TRemoteAnswer); for "/status" it first sends the
// state back to that window (tag KCopyDataRemoteStatus, WPARAM = its own
// application window). The running window is never brought to the front and
// neither process shows a box, except the usage box for a malformed line.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "app/core/RemoteCommand.h"

namespace kav {

class TSingleInstanceGuard;

// How long a start with a command waits (all in milliseconds).
struct TRemoteWaits {
  DWORD FindWindow = 10000; // for the running instance's application window
  DWORD Answer = 20000;     // for one answer (a power command alone pauses 100 ms)
  DWORD Startup = 30000;    // for the running instance's deferred start-up
  DWORD Retry = 200;        // between two tries while it starts up
  DWORD Exit = 10000;       // for its process to end after "/exit"
};

// Second start with a command: hands Command to the running instance and
// returns the exit code (0 done, 1 not done or no answer, 3 busy). "/status"
// writes the status line and CR LF (see WriteStatusLine) before it returns 0;
// "/exit" returns 0 only once the running process has ended.
int HandOverRemoteCommand(const TSingleInstanceGuard& Guard, const TRemoteCommand& Command,
                          const TRemoteWaits& Waits = {});

// A start with a command while nothing runs: starts this executable again
// with Arguments (the resident program), then hands Command over to it as
// HandOverRemoteCommand does (its deferred start-up is waited for) and
// returns the exit code. The guard is let go first, so that the new process
// becomes the running instance. 1 when it cannot be started.
int StartResidentAndHandOver(TSingleInstanceGuard& Guard, const TRemoteCommand& Command,
                             const std::vector<std::wstring>& Arguments, const TRemoteWaits& Waits = {});

// A malformed command line: the usage box (caption: the product name of the
// version resource); returns the exit code 2.
int ShowRemoteUsage();

// Writes Text to standard output when it is redirected to a file or a pipe
// (UTF-8), else to the console of the process that started this one. False
// when there is neither (a start from Explorer or a button box).
bool WriteStatusLine(const std::wstring& Text);

// Hands Command to the application window AppWindow the way a second start
// does (WM_COPYDATA tagged KCopyDataRemoteCommand; Sender: the sender's reply
// window for a status, or 0) and returns the answer; nothing when none came
// within TimeoutMs. Flags: those of SendMessageTimeoutW.
std::optional<TRemoteAnswer> SendRemoteCommand(HWND AppWindow, WPARAM Sender, const TRemoteCommand& Command,
                                               UINT Flags, DWORD TimeoutMs);

// The running instance's side of the hand-over: the WM_COPYDATA handler of
// the application window AppWindow, acting on Target (the status window;
// null while it is being created or destroyed: "starting"). Anything but an
// exact command is answered with 0 (not understood) and does nothing; the
// status goes only to a reply window of a sender.
LRESULT ServeRemoteCommand(IRemoteCommandTarget* Target, HWND AppWindow, WPARAM Sender, const COPYDATASTRUCT& Data);

} // namespace kav
