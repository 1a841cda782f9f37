#pragma once
// Answers the program's message boxes in place of the person at the screen
// and keeps what each was given, for as long as the recorder lives.
#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "common/win/MessageBoxSeam.h"

namespace kavtest {

// One box as the program asked for it.
struct TBox {
  HWND Owner;
  std::wstring Text, Caption;
  UINT Flags;
  bool State; // what the recorder's StateAtShow said while the box was open
};

class TBoxRecorder {
public:
  // Installs the recorder; boxes without a queued answer get DefaultAnswer.
  explicit TBoxRecorder(int DefaultAnswer = IDOK);
  // Puts back the handler that was installed before.
  ~TBoxRecorder();
  TBoxRecorder(const TBoxRecorder&) = delete;
  TBoxRecorder& operator=(const TBoxRecorder&) = delete;

  std::vector<TBox> Boxes;
  // Answers for the next boxes, first one first.
  std::deque<int> Answers;
  // Runs while a box is open (before it is answered), as the box's own message loop would.
  std::function<void()> WhileOpen;
  // A state of the program to note with each box (a window's visibility, a flag).
  std::function<bool()> StateAtShow;

private:
  int FDefaultAnswer;
  kav::TMessageBoxHandler FPrevious;
};

// Expects Box to have been shown with these owner, text, caption and flags.
void ExpectBox(const TBox& Box, HWND Owner, const std::wstring& Text, const std::wstring& Caption, UINT Flags);

} // namespace kavtest
