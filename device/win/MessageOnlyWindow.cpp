#include "device/win/MessageOnlyWindow.h"

#include "common/core/AppError.h"
#include "common/win/CallbackGuard.h"

namespace kav {

namespace {
const wchar_t kClassName[] = L"KavMessageOnlyWindow";
} // namespace

TMessageOnlyWindow::TMessageOnlyWindow(THandler Handler) : FHandler(std::move(Handler)) {
  static const ATOM atom = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &TMessageOnlyWindow::WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc);
  }();
  if (!atom) throw EKavError(L"メッセージ専用ウィンドウのクラスを登録できません");
  FWnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), this);
  if (!FWnd) throw EKavError(L"メッセージ専用ウィンドウを作成できません");
}

TMessageOnlyWindow::~TMessageOnlyWindow() {
  if (FWnd) {
    SetWindowLongPtrW(FWnd, GWLP_USERDATA, 0);
    DestroyWindow(FWnd);
  }
}

LRESULT CALLBACK TMessageOnlyWindow::WndProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    return DefWindowProcW(hWnd, Msg, wParam, lParam);
  }
  auto* self = reinterpret_cast<TMessageOnlyWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  if (self && self->FHandler) {
    LRESULT result = 0;
    bool handled = false;
    try {
      handled = self->FHandler(Msg, wParam, lParam, result);
    } catch (...) {
      HandleCallbackException();
      return 0;
    }
    if (handled) return result;
  }
  return DefWindowProcW(hWnd, Msg, wParam, lParam);
}

} // namespace kav
