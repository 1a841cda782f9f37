// The settings dialog's two pages: their controls, and the layout at the
// dialog's DPI.
#include "settings/win/frmEnvSettings.h"

#include <commctrl.h>

#include <stdexcept>

#include "common/win/KCFL_FormScaling.h"
#include "settings/core/EnvSettingsRules.h"

namespace kav {

namespace {

const UINT_PTR KHotKeySubclassId = 1;

// Layout in pixels at 96 dpi.
const int KMargin = 8;
const int KButtonWidth = 75;
const int KButtonHeight = 25;
const int KButtonGap = 6;

const wchar_t* const KCheckBoxCaptions[EnvCheckBoxCount] = {
    L"起動時、KTX-AV90Rの電源をONにする(&U)",
    L"終了時、KTX-AV90Rの電源をOFFにする(&D)",
    L"起動時、ホットキー制御を有効にする(&C)",
    L"ホットキー制御時、KTX-AV90Rの電源をONにする(&I)",
    L"ウィンドウ表示を自動起動する(&W)",
};

HINSTANCE ModuleInstance() { return GetModuleHandleW(nullptr); }

} // namespace

int TFormEnvSettings::Scale(int Value) const { return ScaleForDpi(Value, FDpi); }

HWND TFormEnvSettings::AddControl(HWND Parent, const wchar_t* ClassName, const wchar_t* Text, DWORD Style, int Id,
                                  int X, int Y, int Width, int Height, DWORD ExStyle) {
  HWND wnd = CreateWindowExW(ExStyle, ClassName, Text, WS_CHILD | WS_VISIBLE | Style, Scale(X), Scale(Y), Scale(Width),
                             Scale(Height), Parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)),
                             ModuleInstance(), nullptr);
  if (!wnd) throw std::runtime_error("CreateWindowExW of a settings dialog control failed");
  SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
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
  // The old font goes only when no control uses it any more.
  TFontHandle old = std::move(FFont);
  FFont.Reset(CreateScaledFont(L"Tahoma", -12, FW_NORMAL, FDpi));
  SetWindowPos(FHandle, nullptr, Suggested.left, Suggested.top, Suggested.right - Suggested.left,
               Suggested.bottom - Suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  SizeWindow();  // the client area exactly as designed, at the suggested place
  for (const TDesignRect& r : FDesignRects) {
    SendMessageW(r.Wnd, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
    SetWindowPos(r.Wnd, nullptr, Scale(r.X), Scale(r.Y), Scale(r.Width), Scale(r.Height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  LayoutPages();
  SizePortList();
  old.Reset();
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

} // namespace kav
