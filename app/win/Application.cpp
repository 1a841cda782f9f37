#include "app/win/Application.h"

#include <objbase.h>

#include "app/core/AppExceptions.h"
#include "app/win/ExceptionLogger.h"
#include "common/win/MessageBoxSeam.h"
#include "common/win/MessageFilter.h"
#include "common/win/WindowBinding.h"
#include "common/win/WindowClass.h"
#include "common/win/WindowText.h"

namespace kav {

const wchar_t TApplication::KWindowClass[] = L"TApplication";

namespace {
TApplication* GApplication = nullptr;
}

TApplication* Application() noexcept { return GApplication; }

TApplication::TApplication(HINSTANCE Instance) : FInstance(Instance) {
  // The shell (ShellExecuteW, for one) expects a single-threaded apartment
  // on the thread that calls it; without OLE 1 DDE, which could block it.
  FComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  RegisterWindowClass({KWindowClass, &BoundWindowProc<TApplication, &TApplication::FHandle, &TApplication::HandleMessage>,
                       false});
  // WS_POPUP and zero size: the window is never meant to be seen.
  FHandle = CreateWindowExW(WS_EX_TOOLWINDOW, KWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            FInstance, this);
  SetToolWindowStyle();
  // A second start hands its command line over with WM_COPYDATA; an elevated
  // instance must still accept it from a normal one, and only then does any
  // process below our level get through (a sandboxed one must not switch the room).
  AllowMessageWhenElevated(FHandle, WM_COPYDATA);
  GApplication = this;
}

TApplication::~TApplication() {
  if (GApplication == this) GApplication = nullptr;
  DestroyBoundWindow(FHandle);
  if (FComInitialized) CoUninitialize();
}

std::wstring TApplication::Title() const { return WindowText(FHandle); }

void TApplication::SetTitle(const std::wstring& Value) { SetWindowTextW(FHandle, Value.c_str()); }

void TApplication::SetToolWindowStyle() { SetWindowLongPtrW(FHandle, GWL_EXSTYLE, WS_EX_TOOLWINDOW); }

int TApplication::Run() {
  MSG msg;
  while (!FTerminated) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      FTerminated = true;
      return static_cast<int>(msg.wParam);
    }
    if (got < 0) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

void TApplication::Terminate() {
  if (FTerminated) return;
  FTerminated = true;
  PostQuitMessage(0);
}

void TApplication::ShowException(const std::exception_ptr& E) {
  ShowMessageBox(FHandle, AppendFullStop(ExceptionMessage(E)), Title(), MB_OK | MB_ICONERROR);
}

LRESULT TApplication::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
  case WM_COPYDATA: {
    // A second start hands over its command line; the program has no use for it.
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(LParam);
    if (data && data->dwData == KCopyDataCommandLine) {
      FHandedOver.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
      while (!FHandedOver.empty() && FHandedOver.back() == L'\0') FHandedOver.pop_back();
      return TRUE;
    }
    if (data && FOnCopyData) return FOnCopyData(WParam, *data);
    break;
  }
  case WM_ENDSESSION:
    if (WParam && FOnEndSession) {
      // At a session end Windows ends the process as soon as this returns;
      // at Restart Manager's or an installer's (ENDSESSION_CLOSEAPP) nobody
      // does. Either way: tear down now, then leave.
      auto handler = std::move(FOnEndSession);
      handler();
      ExitProcess(0);
    }
    return 0;
  default:
    break;
  }
  return DefWindowProcW(FHandle, Msg, WParam, LParam);
}

} // namespace kav
