#pragma once
// Every modal message box of the program goes through ShowMessageBox, so a
// test can answer it and check what it was given (text, caption, flags, owner).
#include <windows.h>

#include <functional>
#include <string>

namespace kav {

using TMessageBoxHandler =
    std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags)>;

// Shows a modal message box (MessageBoxW unless a handler is installed) and returns its answer.
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags);

// How many message boxes of the program are open right now (boxes nest: a
// box's message loop can lead to another box). A command handed over from
// the command line waits for none of them: it is refused while one is open.
int OpenMessageBoxCount() noexcept;

// Installs a replacement for MessageBoxW (tests); an empty handler restores the real box.
// Returns the handler that was installed before.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);

} // namespace kav
