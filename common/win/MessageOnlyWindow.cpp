#include "common/win/MessageOnlyWindow.h"

#include "common/core/AppError.h"
#include "common/win/WindowBinding.h"
#include "common/win/WindowClass.h"

namespace kav {

namespace {
const wchar_t kClassName[] = L"KavMessageOnlyWindow";
} // namespace

TMessageOnlyWindow::TMessageOnlyWindow(THandler Handler) : FHandler(std::move(Handler)) {
  if (!RegisterWindowClass({kClassName,
                            &BoundWindowProc<TMessageOnlyWindow, &TMessageOnlyWindow::FWnd,
                                             &TMessageOnlyWindow::HandleMessage, &ZeroAnswer>,
                            false}))
    throw EKavError(L"メッセージ専用ウィンドウのクラスを登録できません");
  CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), this);
  if (!FWnd) throw EKavError(L"メッセージ専用ウィンドウを作成できません");
}

TMessageOnlyWindow::~TMessageOnlyWindow() { DestroyBoundWindow(FWnd); }

LRESULT TMessageOnlyWindow::HandleMessage(UINT Msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (FHandler && FHandler(Msg, wParam, lParam, result)) return result;
  return DefWindowProcW(FWnd, Msg, wParam, lParam);
}

} // namespace kav
