#include "settings/win/frmEnvSettings.h"

#include <commctrl.h>

#include <algorithm>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/core/AppError.h"
#include "common/core/ScopedFlag.h"
#include "common/win/CallbackGuard.h"
#include "common/win/KCFL_FormScaling.h"
#include "common/win/MessageBoxSeam.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "resources/resource.h"
#include "settings/win/clsEnvSettings.h"

namespace kav {

const wchar_t TFormEnvSettings::KWindowClass[] = L"TFormEnvSettings";

namespace {

const wchar_t KPageClass[] = L"TFormEnvSettingsPage";
const wchar_t KCaption[] = L"環境設定";
const wchar_t KCaptionInfo[] = L"情報";
const wchar_t KCaptionError[] = L"エラー";
const UINT_PTR KHotKeySubclassId = 1;

// Layout in pixels at 96 dpi.
const int KClientWidth = 394;
const int KClientHeight = 442;
const int KMargin = 8;
const int KButtonWidth = 75;
const int KButtonHeight = 25;
const int KButtonGap = 6;
const DWORD KStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
const DWORD KExStyle = WS_EX_CONTROLPARENT;

const wchar_t* const KCheckBoxCaptions[EnvCheckBoxCount] = {
    L"起動時、KTX-AV90Rの電源をONにする(&U)",
    L"終了時、KTX-AV90Rの電源をOFFにする(&D)",
    L"起動時、ホットキー制御を有効にする(&C)",
    L"ホットキー制御時、KTX-AV90Rの電源をONにする(&I)",
    L"ウィンドウ表示を自動起動する(&W)",
};

HINSTANCE ModuleInstance() { return GetModuleHandleW(nullptr); }

bool IsInside(HWND Parent, HWND Wnd) { return Wnd && (Wnd == Parent || IsChild(Parent, Wnd)); }

} // namespace

void TFormEnvSettings::RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &TFormEnvSettings::WndProc;
  wc.hInstance = ModuleInstance();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = LoadIconW(ModuleInstance(), MAKEINTRESOURCEW(IDI_MAINICON));
  wc.lpszClassName = KWindowClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("RegisterClassExW(TFormEnvSettings) failed");

  WNDCLASSEXW pc{};
  pc.cbSize = sizeof(pc);
  pc.lpfnWndProc = &TFormEnvSettings::PageProc;
  pc.hInstance = ModuleInstance();
  pc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  pc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  pc.lpszClassName = KPageClass;
  if (!RegisterClassExW(&pc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
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
  FFont = CreateScaledFont(L"Tahoma", -12, FW_NORMAL, FDpi);  // 9 pt at 96 dpi
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

TFormEnvSettings::~TFormEnvSettings() {
  if (FHandle) {
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
  if (FFont) DeleteObject(FFont);
}

int TFormEnvSettings::Scale(int Value) const { return ScaleForDpi(Value, FDpi); }

HWND TFormEnvSettings::AddControl(HWND Parent, const wchar_t* ClassName, const wchar_t* Text, DWORD Style, int Id,
                                  int X, int Y, int Width, int Height, DWORD ExStyle) {
  HWND wnd = CreateWindowExW(ExStyle, ClassName, Text, WS_CHILD | WS_VISIBLE | Style, Scale(X), Scale(Y), Scale(Width),
                             Scale(Height), Parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)),
                             ModuleInstance(), nullptr);
  if (!wnd) throw std::runtime_error("CreateWindowExW of a settings dialog control failed");
  SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
  FDesignRects.push_back({wnd, X, Y, Width, Height});
  return wnd;
}

void TFormEnvSettings::SizeWindow() { SetClientSize(FHandle, Scale(KClientWidth), Scale(KClientHeight)); }

void TFormEnvSettings::LayoutPages() {
  // The pages lie on the tab control's display area, which depends on the
  // size and font of the tab control.
  RECT display;
  GetClientRect(FPages, &display);
  SendMessageW(FPages, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
  MapWindowPoints(FPages, FHandle, reinterpret_cast<POINT*>(&display), 2);
  for (HWND page : FPageWindows)
    SetWindowPos(page, nullptr, display.left, display.top, display.right - display.left, display.bottom - display.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFormEnvSettings::SizePortList() {
  // Ten rows visible when dropped down.
  SendMessageW(FcmbComPortNum, CB_SETMINVISIBLE, 10, 0);
  const int itemH = static_cast<int>(SendMessageW(FcmbComPortNum, CB_GETITEMHEIGHT, 0, 0));
  const int selH = static_cast<int>(SendMessageW(FcmbComPortNum, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
  if (itemH > 0 && selH > 0)
    SetWindowPos(FcmbComPortNum, nullptr, 0, 0, Scale(120), selH + 6 + 10 * itemH + 2,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFormEnvSettings::WMDpiChanged(int Dpi, const RECT& Suggested) {
  FDpi = Dpi;
  HFONT old = FFont;
  FFont = CreateScaledFont(L"Tahoma", -12, FW_NORMAL, FDpi);
  SetWindowPos(FHandle, nullptr, Suggested.left, Suggested.top, Suggested.right - Suggested.left,
               Suggested.bottom - Suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  SizeWindow();  // the client area exactly as designed, at the suggested place
  for (const TDesignRect& r : FDesignRects) {
    SendMessageW(r.Wnd, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    SetWindowPos(r.Wnd, nullptr, Scale(r.X), Scale(r.Y), Scale(r.Width), Scale(r.Height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  LayoutPages();
  SizePortList();
  if (old) DeleteObject(old);
  RedrawWindow(FHandle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TFormEnvSettings::CreateControls() {
  // Creation order is z-order: the buttons first, then the page control.
  const int by = KClientHeight - KMargin - KButtonHeight;
  const int applyX = KClientWidth - KMargin - KButtonWidth;
  const int cancelX = applyX - KButtonGap - KButtonWidth;
  const int okX = cancelX - KButtonGap - KButtonWidth;
  FbtnOK = AddControl(FHandle, WC_BUTTONW, L"OK", WS_TABSTOP | BS_PUSHBUTTON, IDC_BTN_OK, okX, by, KButtonWidth,
                      KButtonHeight);
  FbtnCancel = AddControl(FHandle, WC_BUTTONW, L"キャンセル", WS_TABSTOP | BS_PUSHBUTTON, IDC_BTN_CANCEL, cancelX, by,
                          KButtonWidth, KButtonHeight);
  FbtnApply = AddControl(FHandle, WC_BUTTONW, L"適用", WS_TABSTOP | BS_PUSHBUTTON, IDC_BTN_APPLY, applyX, by,
                         KButtonWidth, KButtonHeight);
  EnableWindow(FbtnApply, FALSE);

  const int tabW = KClientWidth - 2 * KMargin;
  const int tabH = by - 2 * KMargin;
  FPages = AddControl(FHandle, WC_TABCONTROLW, L"", WS_TABSTOP | WS_CLIPSIBLINGS, IDC_PAGES, KMargin, KMargin, tabW,
                      tabH);
  const wchar_t* pageNames[2] = {L"基本設定", L"ホットキー設定"};
  for (int i = 0; i < 2; ++i) {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(pageNames[i]);
    SendMessageW(FPages, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  }
  // The pages lie on the tab control's display area. They sit above it in
  // z-order so that they paint over it; Tab order is kept by hand (KeyTab).
  const int ids[2] = {IDC_TAB_BASIC, IDC_TAB_HOTKEY};
  for (int i = 0; i < 2; ++i) {
    FPageWindows[i] = CreateWindowExW(WS_EX_CONTROLPARENT, KPageClass, pageNames[i], WS_CHILD | WS_CLIPSIBLINGS, 0,
                                      0, 0, 0, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids[i])),
                                      ModuleInstance(), nullptr);
    if (!FPageWindows[i]) throw std::runtime_error("CreateWindowExW of a settings page failed");
    SetWindowPos(FPageWindows[i], HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  LayoutPages();
  // Page sizes in 96-dpi units.
  RECT page;
  GetClientRect(FPageWindows[0], &page);
  const int pageW = MulDiv(page.right, 96, FDpi);
  const int pageH = MulDiv(page.bottom, 96, FDpi);

  // Page "基本設定". Group boxes last, so they lie below their contents.
  HWND basic = FPageWindows[0];
  const int chkIds[EnvCheckBoxCount] = {IDC_CHK_POWERUP_ON_APPSTART, IDC_CHK_POWERDOWN_OFF_APPSTART,
                                        IDC_CHK_HOTKEY_ENABLE_ON_APPSTART, IDC_CHK_POWERUP_ON_HOTKEYCTRL,
                                        IDC_CHK_WINDOW_VISIBLE};
  for (std::size_t i = 0; i < EnvCheckBoxCount; ++i) {
    FCheckBoxes[i] = AddControl(basic, WC_BUTTONW, KCheckBoxCaptions[i], WS_TABSTOP | BS_AUTOCHECKBOX, chkIds[i], 20,
                                30 + static_cast<int>(i) * 24, pageW - 40, 17);
  }
  const int portY = 8 + 152 + 10;
  AddControl(basic, WC_STATICW, L"ポート番号：", SS_LEFT, IDC_LBL_COMPORTNUM, 20, portY + 29, 72, 15);
  FcmbComPortNum = AddControl(basic, WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                              IDC_CMB_COMPORTNUM, 96, portY + 25, 120, 200);
  SizePortList();
  FbtnComPortTest = AddControl(basic, WC_BUTTONW, L"通信テスト(&T)", WS_TABSTOP | BS_PUSHBUTTON,
                               IDC_BTN_COMPORTTEST, 232, portY + 23, 110, KButtonHeight);
  AddControl(basic, WC_BUTTONW, L"動作設定", BS_GROUPBOX | WS_CLIPSIBLINGS, IDC_GRP_ACTION, KMargin, 8,
             pageW - 2 * KMargin, 152);
  AddControl(basic, WC_BUTTONW, L"COMポート設定", BS_GROUPBOX | WS_CLIPSIBLINGS, IDC_GRP_COMPORT, KMargin, portY,
             pageW - 2 * KMargin, 66);

  // Page "ホットキー設定": label and key field per row.
  HWND hotkeys = FPageWindows[1];
  const int fieldX = 140;
  const int fieldW = pageW - fieldX - 20;
  auto rowY = [](int i) { return i < 2 ? 28 + i * 26 : 118 + (i - 2) * 25; };
  for (int i = 0; i < FieldCount(); ++i) {
    const std::wstring label = HotKeyFieldLabel(static_cast<std::size_t>(i));
    AddControl(hotkeys, WC_STATICW, label.c_str(), SS_LEFT, IDC_LBL_HOTKEY_FIRST + i, 20, rowY(i) + 3,
               fieldX - 24, 15);
    FHotKeyFields[i] = AddControl(hotkeys, HOTKEY_CLASSW, L"", WS_TABSTOP, IDC_HOTKEY_FIRST + i, fieldX,
                                  rowY(i), fieldW, 21, WS_EX_CLIENTEDGE);
    SetWindowSubclass(FHotKeyFields[i], &TFormEnvSettings::HotKeyFieldProc, KHotKeySubclassId,
                      reinterpret_cast<DWORD_PTR>(this));
    // Design-time values.
    SetFieldValue(i, DefaultHotKeyValues[static_cast<std::size_t>(i)]);
  }
  AddControl(hotkeys, WC_BUTTONW, L"デフォルト", WS_TABSTOP | BS_PUSHBUTTON, IDC_BTN_DEFAULT,
             pageW - KMargin - 90, pageH - KMargin - KButtonHeight, 90, KButtonHeight);
  AddControl(hotkeys, WC_BUTTONW, L"制御", BS_GROUPBOX | WS_CLIPSIBLINGS, IDC_GRP_CTRL, KMargin, 8,
             pageW - 2 * KMargin, 82);
  AddControl(hotkeys, WC_BUTTONW, L"入力ソース選択", BS_GROUPBOX | WS_CLIPSIBLINGS, IDC_GRP_CHANNEL, KMargin, 98,
             pageW - 2 * KMargin, 8 * 25 + 26);

  ShowPage(0);
}

void TFormEnvSettings::ShowPage(int Index) {
  if (Index < 0 || Index > 1) return;
  if (SendMessageW(FPages, TCM_GETCURSEL, 0, 0) != Index) SendMessageW(FPages, TCM_SETCURSEL, Index, 0);
  // A focused control on the page being hidden would leave the focus nowhere.
  HWND focus = GetFocus();
  const bool refocus = IsInside(FPageWindows[1 - Index], focus);
  ShowWindow(FPageWindows[Index], SW_SHOW);
  ShowWindow(FPageWindows[1 - Index], SW_HIDE);
  if (refocus) SetFocus(FPages);
}

HWND TFormEnvSettings::Control(int Id) const {
  if (!FHandle) return nullptr;
  if (HWND wnd = GetDlgItem(FHandle, Id)) return wnd;
  for (HWND page : FPageWindows) {
    if (HWND wnd = GetDlgItem(page, Id)) return wnd;
  }
  return nullptr;
}

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

namespace {

struct TDisabledWindows {
  std::vector<HWND> Windows;
  HWND Except = nullptr;
};

BOOL CALLBACK CollectEnabledWindow(HWND Wnd, LPARAM Param) {
  auto* state = reinterpret_cast<TDisabledWindows*>(Param);
  if (Wnd != state->Except && IsWindowVisible(Wnd) && IsWindowEnabled(Wnd)) state->Windows.push_back(Wnd);
  return TRUE;
}

} // namespace

int TFormEnvSettings::ShowModal() {
  if (FModal) return 0;
  if (!FHotKeyInfoList || !FEnvSettings)
    throw std::logic_error("TFormEnvSettings::ShowModal without SetEnvSettings");

  // Like any modal dialog: the thread's other visible windows take no input
  // meanwhile, but all their messages are still dispatched.
  TDisabledWindows disabled;
  disabled.Except = FHandle;
  EnumThreadWindows(GetCurrentThreadId(), &CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
  struct TModalState {
    TFormEnvSettings& Form;
    TDisabledWindows& Disabled;
    ~TModalState() {
      for (HWND wnd : Disabled.Windows) {
        if (IsWindow(wnd)) EnableWindow(wnd, TRUE);
      }
      // Hide only after the others are enabled again, so activation goes back to them.
      ShowWindow(Form.FHandle, SW_HIDE);
      Form.FModal = false;
      Form.FActiveKeyField = -1;
    }
  } modalState{*this, disabled};
  FModal = true;
  FModalResult = 0;
  for (HWND wnd : disabled.Windows) EnableWindow(wnd, FALSE);

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

  MSG msg;
  while (FModalResult == 0) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ApplicationEventsIdle();
      if (FModalResult != 0) break;
      WaitMessage();
      continue;
    }
    if (msg.message == WM_QUIT) {
      // Leave the dialog and let the outer loop see the quit request too.
      PostQuitMessage(static_cast<int>(msg.wParam));
      FModalResult = IDCANCEL;
      break;
    }
    if (PreTranslateMessage(msg)) continue;
    if (!IsDialogMessageW(FHandle, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
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

LRESULT CALLBACK TFormEnvSettings::WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(LParam);
    auto* self = static_cast<TFormEnvSettings*>(cs->lpCreateParams);
    self->FHandle = Wnd;
    SetWindowLongPtrW(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TFormEnvSettings*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  LRESULT result = 0;
  bool handled = false;
  GuardCallback([&] { handled = self->HandleMessage(Msg, WParam, LParam, result); });
  return handled ? result : DefWindowProcW(Wnd, Msg, WParam, LParam);
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
  case WM_NCDESTROY:
    FHandle = nullptr;
    return false;
  default:
    return false;
  }
}

// ---------------------------------------------------------------------------
// Key fields

THotKeyValue TFormEnvSettings::GetFieldValue(int Field) const {
  return static_cast<THotKeyValue>(LOWORD(SendMessageW(FHotKeyFields[Field], HKM_GETHOTKEY, 0, 0)));
}

void TFormEnvSettings::SetFieldValue(int Field, THotKeyValue Value) {
  FFallbacks[Field].ProgramSet(Value);
  ApplyFieldRules(Field);
  const bool wasSetting = FSettingField;
  FSettingField = true;
  SendMessageW(FHotKeyFields[Field], HKM_SETHOTKEY, Value, 0);
  FSettingField = wasSetting;
  UpdateFieldText(Field);
}

void TFormEnvSettings::ApplyFieldRules(int Field) {
  // A key without modifiers is invalid; the control then adds the fallback.
  SendMessageW(FHotKeyFields[Field], HKM_SETRULES, HKCOMB_NONE, MAKELPARAM(FFallbacks[Field].Modifiers(), 0));
}

void TFormEnvSettings::UpdateFieldText(int Field) {
  // The control paints its value itself; its window text carries the same
  // combination for WM_GETTEXT readers (screen readers, the end-to-end probe).
  const std::wstring text = HotKeyText(GetFieldValue(Field), PlatformKeyName);
  SetWindowTextW(FHotKeyFields[Field], text.c_str());
}

void TFormEnvSettings::HotKeyFocusGained(int Field) {
  if (FActiveKeyField == Field) return;  // focus back from another window: no new entry
  if (FActiveKeyField >= 0) HotKeyExit(FActiveKeyField);
  FActiveKeyField = Field;
  HotKeyEnter(Field);
}

void TFormEnvSettings::HotKeyFocusLost(int Field, HWND NewFocus) {
  // Only moving to another control of the dialog leaves the field; the focus
  // going to a message box or another program comes back to it.
  if (!IsInside(FHandle, NewFocus) || !IsWindowVisible(FHandle)) return;
  if (FActiveKeyField == Field) FActiveKeyField = -1;
  HotKeyExit(Field);
}

void TFormEnvSettings::HotKeyEnter(int Field) {
  const THotKeyValue shown = GetFieldValue(Field);
  FHotKeyHold = HotKeyCombination(shown);
  FFallbacks[Field].FocusGained(shown);
  SetFieldValue(Field, HotKeyPlaceholder);
}

void TFormEnvSettings::HotKeyExit(int Field) {
  const THotKeyValue shown = GetFieldValue(Field);
  if (IsHotKeyPlaceholder(shown)) SetFieldValue(Field, HotKeyFieldExitValue(shown, FHotKeyHold));
}

void TFormEnvSettings::HotKeyChange(int Field) {
  if (FSettingField) return;  // the program's own change, not the user's
  THotKeyValue shown = GetFieldValue(Field);
  if (shown == 0) {
    // Some hot-key controls report modifier keys held alone as no value at
    // all rather than as modifiers without a key: take them from the keyboard.
    std::uint8_t held = 0;
    if (GetKeyState(VK_SHIFT) < 0) held |= HotKeyFlagShift;
    if (GetKeyState(VK_CONTROL) < 0) held |= HotKeyFlagControl;
    if (GetKeyState(VK_MENU) < 0) held |= HotKeyFlagAlt;
    shown = MakeHotKeyValue(0, held);
  }
  if (shown != HotKeyPlaceholder && HotKeyFieldNeedsReset(shown)) {
    FFallbacks[Field].ResetToPlaceholder(shown);
    SetFieldValue(Field, HotKeyPlaceholder);
  } else {
    UpdateFieldText(Field);
  }
}

// ---------------------------------------------------------------------------
// Reading the controls

std::array<THotKeyValue, HotKeyCount> TFormEnvSettings::FieldValues() const {
  std::array<THotKeyValue, HotKeyCount> values{};
  for (int i = 0; i < FieldCount(); ++i) values[static_cast<std::size_t>(i)] = GetFieldValue(i);
  return values;
}

int TFormEnvSettings::BoundFieldCount() const {
  if (!FHotKeyInfoList) return 0;
  return static_cast<int>(BoundHotKeyCount(static_cast<std::size_t>(std::max(FHotKeyInfoList->Count(), 0)),
                                           static_cast<std::size_t>(FieldCount())));
}

std::array<bool, EnvCheckBoxCount> TFormEnvSettings::CheckBoxStates() const {
  std::array<bool, EnvCheckBoxCount> states{};
  for (std::size_t i = 0; i < EnvCheckBoxCount; ++i)
    states[i] = SendMessageW(FCheckBoxes[i], BM_GETCHECK, 0, 0) == BST_CHECKED;
  return states;
}

std::array<bool, EnvCheckBoxCount> TFormEnvSettings::RecordStates() const {
  const TEnvSettings& r = *FEnvSettings;
  return {r.PowerUpOnAppStart(), r.PowerDownOffAppStart(), r.HotKeyEnableOnAppStart(), r.PowerUpOnHotKeyCtrl(),
          r.WindowVisible()};
}

std::wstring TFormEnvSettings::ComPortText() const {
  const int len = GetWindowTextLengthW(FcmbComPortNum);
  std::wstring text(static_cast<std::size_t>(len) + 1, L'\0');
  const int got = GetWindowTextW(FcmbComPortNum, text.data(), len + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

int TFormEnvSettings::ComPortIndex() const {
  return static_cast<int>(SendMessageW(FcmbComPortNum, CB_GETCURSEL, 0, 0));  // CB_ERR (-1): none
}

// ---------------------------------------------------------------------------
// Event handlers and operations

void TFormEnvSettings::FormShow() {
  FComPortIndex_Old = 0;
  FComPortIndex_New = 0;
  FActiveKeyField = -1;
  FLastFocus = nullptr;
  FStorePending = false;
  try {
    InitGUI();
  } catch (const EKavError& e) {
    // The first filling stores at once; a refused write is shown, the dialog opens anyway.
    FStorePending = true;
    ShowStoreError(e.Message());
  }
}

void TFormEnvSettings::InitGUI() {
  const TScopedFlag filling(FInitGUIFinished, false); // finished when this returns, also by an exception

  EnableWindow(FbtnApply, FALSE);
  ShowPage(0);

  const auto record = RecordStates();
  for (std::size_t i = 0; i < EnvCheckBoxCount; ++i)
    SendMessageW(FCheckBoxes[i], BM_SETCHECK, record[i] ? BST_CHECKED : BST_UNCHECKED, 0);

  SendMessageW(FcmbComPortNum, CB_RESETCONTENT, 0, 0);
  const auto items =
      ComPortListItems(ReadSerialCommPorts(FSerialCommRoot, FSerialCommKey.c_str()), FEnvSettings->ComPort());
  for (const auto& item : items) SendMessageW(FcmbComPortNum, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  const int32_t index = FindComPortIndex(items, FEnvSettings->ComPort());
  SendMessageW(FcmbComPortNum, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  FComPortIndex_Old = FComPortIndex_New = index;

  if (FHotKeyInfoList->Count() == 0) {
    // First start: the table is written at once with what the fields show.
    DoProcess_Store();
    EnableWindow(FbtnApply, FALSE);
  } else {
    const int n = BoundFieldCount();
    for (int i = 0; i < n; ++i) {
      SetFieldValue(i, (*FHotKeyInfoList)[i].HotKey());
      FHotkeyValueList_Old[static_cast<std::size_t>(i)] = HotKeyCombination(GetFieldValue(i));
    }
  }
}

void TFormEnvSettings::FormClose() { FHost.SelectHotKeyEnabled(FHandle); }

void TFormEnvSettings::cmbComPortNumChange() { FComPortIndex_New = ComPortIndex(); }

void TFormEnvSettings::btnComPortTestClick() {
  if (FComPortTestRunning) return;  // the test's wait handles messages: no second test inside it
  const std::wstring model = FHost.ModelName();
  const std::wstring port = ComPortText();
  if (port == KComPortNotSelected) {
    ShowMessageBox(FHandle, ComPortSelectPromptText(model), KCaptionInfo, MB_OK | MB_ICONINFORMATION);
    return;
  }
  FComPortTestRunning = true;
  struct TRestore {
    bool& Running;
    ~TRestore() {
      Running = false;
      SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    }
  } restore{FComPortTestRunning};
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  const bool ok = FComPortTest ? FComPortTest(port) : false;
  if (ok) {
    ShowMessageBox(FHandle, ComPortTestSuccessText(model), KCaptionInfo, MB_OK | MB_ICONINFORMATION);
  } else {
    ShowMessageBox(FHandle, ComPortTestFailureText(model), KCaptionError, MB_OK | MB_ICONERROR);
  }
}

void TFormEnvSettings::btnDefaultClick() {
  const auto values = DefaultFieldValues(static_cast<std::size_t>(std::max(FHotKeyInfoList ? FHotKeyInfoList->Count() : 0, 0)),
                                         static_cast<std::size_t>(FieldCount()));
  for (std::size_t i = 0; i < values.size(); ++i) SetFieldValue(static_cast<int>(i), values[i]);
}

void TFormEnvSettings::btnOKClick() {
  if (DoProcess_Apply()) EndModal(IDOK);
}

void TFormEnvSettings::btnApplyClick() { DoProcess_Apply(); }

bool TFormEnvSettings::DoProcess_Apply() {
  // Bring "適用" up to date first, so that an edit made without an idle pass
  // since (a click arriving right after a key) is not lost.
  DoProcess_CheckChange();
  if (!IsWindowEnabled(FbtnApply)) return true;
  if (IsDuplicateHotKey()) {
    ShowMessageBox(FHandle, KDuplicateHotKeyText, KCaptionError, MB_OK | MB_ICONERROR);
    return false;
  }
  const auto boxes = CheckBoxStates();
  TEnvSettings& r = *FEnvSettings;
  r.SetPowerUpOnAppStart(boxes[0]);
  r.SetPowerDownOffAppStart(boxes[1]);
  r.SetHotKeyEnableOnAppStart(boxes[2]);
  r.SetPowerUpOnHotKeyCtrl(boxes[3]);
  r.SetWindowVisible(boxes[4]);
  const int index = ComPortIndex();
  r.SetComPort(ComPortToStore(index, ComPortText(), r.ComPort()));
  FComPortIndex_Old = index;
  try {
    DoProcess_Store();
  } catch (const EKavError& e) {
    // The settings in memory are the new ones, the file is not: show why,
    // keep the dialog open and "適用" on so the user can try again.
    FStorePending = true;
    EnableWindow(FbtnApply, TRUE);
    ShowStoreError(e.Message());
    return false;
  }
  FStorePending = false;
  EnableWindow(FbtnApply, FALSE);
  return true;
}

void TFormEnvSettings::DoProcess_Store() {
  THotKeyInfoList& list = *FHotKeyInfoList;
  list.DoProcess_UnregisterHotKey();
  list.Clear();
  const auto values = FieldValues();
  const auto items = HotKeyStoreItems(std::span<const THotKeyValue>(values.data(), static_cast<std::size_t>(FieldCount())));
  for (std::size_t i = 0; i < items.size(); ++i) {
    list.AddItem(items[i].Value, items[i].Func);
    FHotkeyValueList_Old[i] = HotKeyCombination(items[i].Value);
  }
  FEnvSettings->Save();
  list.Save();
}

void TFormEnvSettings::DoProcess_CheckChange() {
  if (!FInitGUIFinished || !FHotKeyInfoList || !FEnvSettings || !FHandle) return;
  const auto values = FieldValues();
  const bool changed = IsEnvSettingsChanged(
      FComPortIndex_Old, FComPortIndex_New, CheckBoxStates(), RecordStates(),
      std::span<const THotKeyValue>(values.data(), static_cast<std::size_t>(FieldCount())), FHotkeyValueList_Old,
      static_cast<std::size_t>(std::max(FHotKeyInfoList->Count(), 0)), FStorePending);
  if ((IsWindowEnabled(FbtnApply) != FALSE) != changed) EnableWindow(FbtnApply, changed ? TRUE : FALSE);
}

bool TFormEnvSettings::IsDuplicateHotKey() const {
  const auto values = FieldValues();
  return kav::IsDuplicateHotKey(std::span<const THotKeyValue>(values.data(), static_cast<std::size_t>(FieldCount())),
                                static_cast<std::size_t>(std::max(FHotKeyInfoList ? FHotKeyInfoList->Count() : 0, 0)));
}

void TFormEnvSettings::ShowStoreError(const std::wstring& Message) {
  ShowMessageBox(FHandle, Message, KCaptionError, MB_OK | MB_ICONERROR);
}

} // namespace kav
