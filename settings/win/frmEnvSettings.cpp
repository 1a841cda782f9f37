// The settings dialog: creation, the modal loop with its keyboard handling,
// and the window procedures.
#include "settings/win/frmEnvSettings.h"

#include <commctrl.h>

#include <algorithm>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/core/AppError.h"
#include "common/core/ScopeExit.h"
#include "common/core/ScopedFlag.h"
#include "common/win/CallbackGuard.h"
#include "common/win/KCFL_FormScaling.h"
#include "common/win/MessageBoxSeam.h"
#include "common/win/ModalLoop.h"
#include "common/win/WindowBinding.h"
#include "common/win/WindowClass.h"
#include "common/win/WindowText.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "resources/resource.h"
#include "settings/win/clsEnvSettings.h"

namespace kav {

const wchar_t TFormEnvSettings::KWindowClass[] = L"TFormEnvSettings";

namespace {

const wchar_t KCaption[] = L"環境設定";
const DWORD KStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
const DWORD KExStyle = WS_EX_CONTROLPARENT;

HINSTANCE ModuleInstance() { return GetModuleHandleW(nullptr); }

} // namespace

const wchar_t TFormEnvSettings::KPageClass[] = L"TFormEnvSettingsPage";

bool TFormEnvSettings::IsInside(HWND Parent, HWND Wnd) { return Wnd && (Wnd == Parent || IsChild(Parent, Wnd)); }

void TFormEnvSettings::RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  if (!RegisterWindowClass({KWindowClass,
                            &BoundWindowProc<TFormEnvSettings, &TFormEnvSettings::FHandle, &TFormEnvSettings::WindowMessage>,
                            true, LoadIconW(ModuleInstance(), MAKEINTRESOURCEW(IDI_MAINICON))}))
    throw std::runtime_error("RegisterClassExW(TFormEnvSettings) failed");
  if (!RegisterWindowClass({KPageClass, &TFormEnvSettings::PageProc}))
    throw std::runtime_error("RegisterClassExW(TFormEnvSettingsPage) failed");
  registered = true;
}

TFormEnvSettings::TFormEnvSettings(HWND Owner, IEnvSettingsHost& Host) : FOwner(Owner), FHost(Host) {
  for (std::size_t i = 0; i < FFallbacks.size(); ++i) FFallbacks[i] = THotKeyFieldFallback(DefaultHotKeyValues[i]);
  RegisterClasses();

  // The window is made first: its DPI (the monitor's) decides the font and
  // every size, which are designed at 96 dpi.
  FHandle = CreateWindowExW(KExStyle, KWindowClass, KCaption, KStyle, CW_USEDEFAULT, CW_USEDEFAULT, KClientWidth,
                            KClientHeight, Owner, nullptr, ModuleInstance(), this);
  if (!FHandle) throw std::runtime_error("CreateWindowExW(TFormEnvSettings) failed");
  FDpi = WindowDpi(FHandle);
  FFont.Reset(CreateScaledFont(L"Tahoma", -12, FW_NORMAL, FDpi));  // 9 pt at 96 dpi
  SizeWindow();

  // The close box is the only caption button; the system menu offers nothing else.
  if (HMENU menu = GetSystemMenu(FHandle, FALSE)) {
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MINIMIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_RESTORE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
  }
  CreateControls();
}

TFormEnvSettings::~TFormEnvSettings() { DestroyBoundWindow(FHandle); }

bool TFormEnvSettings::Visible() const { return FHandle && IsWindowVisible(FHandle); }

void TFormEnvSettings::SetEnvSettings(THotKeyInfoList& HotKeyInfoList, TEnvSettings& EnvSettings) {
  FHotKeyInfoList = &HotKeyInfoList;
  FEnvSettings = &EnvSettings;
}

void TFormEnvSettings::SetComPortTestFunc(TComPortTestFunc Func) { FComPortTest = std::move(Func); }

void TFormEnvSettings::SetSerialCommKey(HKEY Root, std::wstring SubKey) {
  FSerialCommRoot = Root;
  FSerialCommKey = std::move(SubKey);
}

// ---------------------------------------------------------------------------
// Modal display

int TFormEnvSettings::ShowModal() {
  if (FModal) return 0;
  if (!FHotKeyInfoList || !FEnvSettings)
    throw std::logic_error("TFormEnvSettings::ShowModal without SetEnvSettings");

  // Like any modal dialog: the thread's other visible windows take no input
  // meanwhile, but all their messages are still dispatched.
  TDisabledWindows disabled(FHandle);
  const TScopeExit modalEnd([this, &disabled] {
    disabled.Restore();
    // Hide only after the others are enabled again, so activation goes back to them.
    ShowWindow(FHandle, SW_HIDE);
    FModal = false;
    FActiveKeyField = -1;
  });
  FModal = true;
  FModalResult = 0;

  FormShow();

  RECT rc;
  GetWindowRect(FHandle, &rc);
  const int w = rc.right - rc.left;
  const int h = rc.bottom - rc.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  SetWindowPos(FHandle, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
  ShowWindow(FHandle, SW_SHOWNORMAL);
  SetForegroundWindow(FHandle);
  SetFocus(FbtnOK);

  TModalHooks hooks;
  hooks.Idle = [this] { ApplicationEventsIdle(); };
  hooks.PreTranslate = [this](const MSG& Msg) { return PreTranslateMessage(Msg); };
  // A quit request closes the dialog and goes on to the outer loop.
  if (!RunModal(FHandle, [this] { return FModalResult != 0; }, hooks)) FModalResult = IDCANCEL;
  const int result = FModalResult;
  FormClose();
  return result;
}

void TFormEnvSettings::EndModal(int Result) {
  if (!FModal) return;
  FModalResult = Result;
  PostMessageW(FHandle, WM_NULL, 0, 0);  // wakes the modal loop if it waits
}

void TFormEnvSettings::Close() { EndModal(IDCANCEL); }

bool TFormEnvSettings::PreTranslateMessage(const MSG& Msg) {
  // Ctrl+Break arrives as VK_CANCEL, which the dialog manager takes for
  // Escape; in a key field it is a key press like any other.
  if ((Msg.message == WM_KEYDOWN || Msg.message == WM_KEYUP) && Msg.wParam == VK_CANCEL &&
      GetDlgCtrlID(Msg.hwnd) >= IDC_HOTKEY_FIRST && GetDlgCtrlID(Msg.hwnd) < IDC_HOTKEY_FIRST + FieldCount() &&
      IsChild(FHandle, Msg.hwnd)) {
    TranslateMessage(&Msg);
    DispatchMessageW(&Msg);
    return true;
  }
  if (Msg.message != WM_KEYDOWN || Msg.wParam != VK_TAB || !IsInside(FHandle, Msg.hwnd)) return false;
  if (GetKeyState(VK_MENU) < 0) return false;
  if (GetKeyState(VK_CONTROL) < 0) {
    // Ctrl+Tab / Ctrl+Shift+Tab turn the page (there are two).
    const int cur = static_cast<int>(SendMessageW(FPages, TCM_GETCURSEL, 0, 0));
    ShowPage(cur == 0 ? 1 : 0);
    return true;
  }
  KeyTab(GetKeyState(VK_SHIFT) < 0);
  return true;
}

void TFormEnvSettings::KeyTab(bool Backwards) {
  // Tab order: OK, キャンセル, 適用, the page control, then the visible page.
  std::vector<HWND> stops = {FbtnOK, FbtnCancel, FbtnApply, FPages};
  const int cur = static_cast<int>(SendMessageW(FPages, TCM_GETCURSEL, 0, 0));
  HWND page = FPageWindows[cur == 1 ? 1 : 0];
  for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) stops.push_back(child);
  }
  std::erase_if(stops, [](HWND wnd) { return !IsWindowVisible(wnd) || !IsWindowEnabled(wnd); });
  if (stops.empty()) return;
  HWND focus = GetFocus();
  int index = -1;
  for (int i = 0; i < static_cast<int>(stops.size()); ++i) {
    if (IsInside(stops[i], focus)) index = i;
  }
  const int n = static_cast<int>(stops.size());
  int next;
  if (index < 0) next = Backwards ? n - 1 : 0;
  else next = (index + (Backwards ? n - 1 : 1)) % n;
  SendMessageW(FHandle, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  SetFocus(stops[static_cast<std::size_t>(next)]);
}

void TFormEnvSettings::ApplicationEventsIdle() {
  ++FIdlePassCount;
  if (FInitGUIFinished) DoProcess_CheckChange();
}

// ---------------------------------------------------------------------------
// Window procedures

LRESULT TFormEnvSettings::WindowMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
  LRESULT result = 0;
  return HandleMessage(Msg, WParam, LParam, result) ? result : DefWindowProcW(FHandle, Msg, WParam, LParam);
}

LRESULT CALLBACK TFormEnvSettings::PageProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
  case WM_COMMAND:
  case WM_NOTIFY:
    // The dialog handles everything its controls report.
    return SendMessageW(GetParent(Wnd), Msg, WParam, LParam);
  default:
    return DefWindowProcW(Wnd, Msg, WParam, LParam);
  }
}

LRESULT CALLBACK TFormEnvSettings::HotKeyFieldProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam,
                                                   UINT_PTR IdSubclass, DWORD_PTR RefData) {
  auto* self = reinterpret_cast<TFormEnvSettings*>(RefData);
  if (Msg == WM_NCDESTROY) {
    RemoveWindowSubclass(Wnd, &TFormEnvSettings::HotKeyFieldProc, IdSubclass);
    return DefSubclassProc(Wnd, Msg, WParam, LParam);
  }
  const LRESULT result = DefSubclassProc(Wnd, Msg, WParam, LParam);
  if (Msg == WM_SETFOCUS || Msg == WM_KILLFOCUS) {
    const int field = GetDlgCtrlID(Wnd) - IDC_HOTKEY_FIRST;
    if (field >= 0 && field < self->FieldCount()) {
      GuardCallback([&] {
        if (Msg == WM_SETFOCUS) self->HotKeyFocusGained(field);
        else self->HotKeyFocusLost(field, reinterpret_cast<HWND>(WParam));
      });
    }
  }
  return result;
}

bool TFormEnvSettings::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam, LRESULT& Result) {
  switch (Msg) {
  case WM_COMMAND: {
    const int id = LOWORD(WParam);
    const int code = HIWORD(WParam);
    if (id >= IDC_HOTKEY_FIRST && id < IDC_HOTKEY_FIRST + FieldCount()) {
      if (code == EN_CHANGE) HotKeyChange(id - IDC_HOTKEY_FIRST);
      return true;
    }
    if (id == IDC_CMB_COMPORTNUM) {
      if (code == CBN_SELCHANGE) cmbComPortNumChange();
      return true;
    }
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_BTN_OK: btnOKClick(); return true;
    case IDC_BTN_CANCEL: EndModal(IDCANCEL); return true;  // also Escape
    case IDC_BTN_APPLY: btnApplyClick(); return true;
    case IDC_BTN_COMPORTTEST: btnComPortTestClick(); return true;
    case IDC_BTN_DEFAULT: btnDefaultClick(); return true;
    case IDOK: {
      // Enter: presses the focused push button; elsewhere (a key field) it does nothing.
      HWND focus = GetFocus();
      if (IsInside(FHandle, focus) && (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON))
        SendMessageW(focus, BM_CLICK, 0, 0);
      return true;
    }
    default: return false;
    }
  }
  case WM_NOTIFY: {
    const auto* hdr = reinterpret_cast<const NMHDR*>(LParam);
    if (hdr->hwndFrom == FPages && hdr->code == TCN_SELCHANGE) {
      ShowPage(static_cast<int>(SendMessageW(FPages, TCM_GETCURSEL, 0, 0)));
      return true;
    }
    return false;
  }
  case WM_ACTIVATE:
    // Keep the focused control across deactivation, as a dialog does.
    if (LOWORD(WParam) == WA_INACTIVE) {
      HWND focus = GetFocus();
      if (IsInside(FHandle, focus) && focus != FHandle) FLastFocus = focus;
    } else if (FLastFocus && IsWindow(FLastFocus) && IsWindowVisible(FLastFocus) && IsWindowEnabled(FLastFocus)) {
      SetFocus(FLastFocus);
    } else {
      SetFocus(FbtnOK);
    }
    Result = 0;
    return true;
  case WM_DPICHANGED:
    WMDpiChanged(HIWORD(WParam), *reinterpret_cast<const RECT*>(LParam));
    Result = 0;
    return true;
  case WM_SETCURSOR:
    if (FComPortTestRunning) {
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      Result = TRUE;
      return true;
    }
    return false;
  case WM_ENTERIDLE:
    // A message box of the dialog waits for the user: an idle pass too.
    ApplicationEventsIdle();
    return false;
  case WM_CLOSE:
    if (FModal) EndModal(IDCANCEL);
    else ShowWindow(FHandle, SW_HIDE);
    Result = 0;
    return true;
  default:
    return false;
  }
}

} // namespace kav
