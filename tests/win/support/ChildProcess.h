#pragma once
// Another program started by a test (this test program again, a renamed
// copy of it, the real program), waited for with a deadline.
#include <windows.h>

#include <string>

namespace kavtest {

// What RunProcess returns when the program could not be started.
inline constexpr DWORD KNotStarted = 0xFFFFFFFF;

// Starts CommandLine (its program quoted first) in Folder (null: ours) and
// waits up to TimeoutMs for it to end; with Serve, this thread's messages
// are served meanwhile (the child may talk to our windows). Returns its
// exit code; STILL_ACTIVE when it did not end in time (it is ended then, so
// that nothing is left running), KNotStarted when it could not start.
DWORD RunProcess(std::wstring CommandLine, DWORD TimeoutMs, bool Serve = false, const wchar_t* Folder = nullptr);

} // namespace kavtest
