#pragma once
// Drives a modal dialog from inside its own message loop: once the
// dialog's window is up and visible, a thread timer runs one step on it
// (read it, press its buttons, post keys), as a person would.
#include <windows.h>

#include <functional>
#include <string>

namespace kavtest {

class TModalDriver {
public:
  // The dialog is found by its window class.
  explicit TModalDriver(const wchar_t* WindowClass) : FWindowClass(WindowClass) {}

  // Shows the dialog through ShowModal and runs Step once on its window;
  // returns what ShowModal returned. A dialog still open after 20 s is sent
  // WM_CLOSE, so that a broken one does not hang the test run.
  int Run(const std::function<int()>& ShowModal, std::function<void(HWND)> Step);
  // The same for a form with a ShowModal member.
  template <class TForm>
  int Run(TForm& Form, std::function<void(HWND)> Step) {
    return Run([&Form] { return Form.ShowModal(); }, std::move(Step));
  }

  // Whether the last Run got to its step.
  bool Ran = false;

private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);

  std::wstring FWindowClass;
  std::function<void(HWND)> FStep;
  ULONGLONG FDeadline = 0;
};

} // namespace kavtest
