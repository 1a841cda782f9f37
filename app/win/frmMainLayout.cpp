// The status window's controls and their layout at the window's DPI, its
// place in the work area and showing it.
#include "app/win/frmMain.h"

#include <commctrl.h>

#include <array>

#include "app/core/AppTexts.h"
#include "app/core/WindowPlacement.h"
#include "app/win/Application.h"
#include "app/win/FormUtil.h"
#include "app/win/TrayIcon.h"
#include "common/win/KCFL_FormScaling.h"
#include "settings/win/clsEnvSettings.h"

namespace kav {

namespace {

// Designed at 96 dpi.
constexpr int KCaptionLeft = 25;
constexpr int KValueLeft = 155;
constexpr std::array<int, 4> KRowTop = {10, 30, 50, 70};

} // namespace

// ---------------------------------------------------------------------------
// Controls and layout

void TFormMain::CreateControls() {
  struct TLabelDef {
    int Id;
    const wchar_t* Text;
  };
  const std::array<TLabelDef, 8> labels = {{
      {IDC_LBL_HOTKEYENABLED, AppText::LabelHotKeyEnabled},
      {IDC_LBL_HOTKEYENABLEDSTAT, AppText::HotKeyStateText(false)},
      {IDC_LBL_POWER, AppText::LabelPower},
      {IDC_LBL_POWERSTAT, AppText::OnOffText(false)},
      {IDC_LBL_BLACKOUT, AppText::LabelBlackout},
      {IDC_LBL_BLACKOUTSTAT, AppText::OnOffText(false)},
      {IDC_LBL_SELCHANNEL, AppText::LabelSelChannel},
      {IDC_LBL_SELCHANNELSTAT, AppText::InitialSelChannel},
  }};
  // No word wrap: a caption too wide for its column (wider fonts than the
  // designed one) is cut at the value column instead of losing its second half.
  for (const auto& l : labels)
    CreateWindowExW(0, WC_STATICW, l.Text, WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0, 0, 0, FHandle,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(l.Id)), FApp.Instance(), nullptr);
  LayoutControls();
}

void TFormMain::LayoutControls() {
  // Everything is designed at 96 dpi and scaled to the window's DPI: fonts,
  // places, the client area. The outer height is designed (125 pixels), so
  // the client height is what remains inside the 96-dpi frame, scaled.
  FFont.Reset(CreateScaledFont(L"Tahoma", -12, FW_NORMAL, FDpi)); // 9 pt at 96 dpi
  FBoldFont.Reset(CreateScaledFont(L"Tahoma", -12, FW_BOLD, FDpi));
  const int clientWidth = ScaleForDpi(KClientWidth, FDpi);
  const int clientHeight = ScaleForDpi(KOuterHeight - FrameSize(KFormStyle, KFormExStyle, 96).cy, FDpi);
  const int captionLeft = ScaleForDpi(KCaptionLeft, FDpi);
  const int valueLeft = ScaleForDpi(KValueLeft, FDpi);
  const TWindowDC dc(FHandle);
  for (int row = 0; row < 4; ++row) {
    const int top = ScaleForDpi(KRowTop[static_cast<size_t>(row)], FDpi);
    for (int col = 0; col < 2; ++col) {
      HWND label = Control(IDC_LBL_HOTKEYENABLED + row * 2 + col);
      HFONT font = col == 0 ? FFont.Get() : FBoldFont.Get();
      SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      TEXTMETRICW tm{};
      {
        const TSelectedObject selected(dc.Get(), font);
        GetTextMetricsW(dc.Get(), &tm);
      }
      const int left = col == 0 ? captionLeft : valueLeft;
      // A caption takes the whole space up to its value, so it is cut only
      // where it would run into the value; the value takes the rest of the row.
      const int width = col == 0 ? valueLeft - captionLeft : clientWidth - valueLeft;
      SetWindowPos(label, nullptr, left, top, width, tm.tmHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  SetClientSize(FHandle, clientWidth, clientHeight);
  InvalidateRect(FHandle, nullptr, TRUE);
}

void TFormMain::SetLabel(int Id, const std::wstring& Text) {
  SetWindowTextW(Control(Id), Text.c_str());
  if (FOnStatusChanged) FOnStatusChanged();
}

void TFormMain::CreatePopupMenu() {
  FPopupMenu.Reset(::CreatePopupMenu());
  HMENU m = FPopupMenu.Get();
  AppendMenuW(m, MF_STRING, IDM_HOTKEYENABLED, AppText::MenuHotKeyEnabled);
  AppendMenuW(m, MF_SEPARATOR, IDM_LINE1, nullptr);
  AppendMenuW(m, MF_STRING, IDM_ENVSETTING, AppText::MenuEnvSetting);
  AppendMenuW(m, MF_SEPARATOR, IDM_LINE2, nullptr);
  AppendMenuW(m, MF_STRING, IDM_WINDOWVISIBLE, AppText::MenuWindowVisible);
  AppendMenuW(m, MF_STRING, IDM_VERSION, AppText::MenuVersion);
  AppendMenuW(m, MF_SEPARATOR, IDM_LINE3, nullptr);
  AppendMenuW(m, MF_STRING, IDM_TERMINATE, AppText::MenuTerminate);
}

// ---------------------------------------------------------------------------
// Showing, placing, closing

void TFormMain::FormShow() { DoProcess_PlaceWindow(); }

POINT TFormMain::PlacedOrigin() const {
  const RECT work = PrimaryWorkArea();
  RECT outer{};
  GetWindowRect(FHandle, &outer);
  const auto pos = PlaceBottomRight(work.right - work.left, work.bottom - work.top, outer.right - outer.left,
                                    outer.bottom - outer.top);
  return POINT{pos.Left, pos.Top};
}

void TFormMain::DoProcess_PlaceWindow() {
  const POINT pos = PlacedOrigin();
  SetWindowPos(FHandle, nullptr, pos.x, pos.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFormMain::WMDpiChanged(int Dpi, const RECT& Suggested) {
  // A window at its place in the work area's corner stays in the corner at
  // its new size; one that the user has moved goes where Windows suggests.
  RECT outer{};
  GetWindowRect(FHandle, &outer);
  const POINT placed = PlacedOrigin();
  const bool inCorner = IsWindowVisible(FHandle) && outer.left == placed.x && outer.top == placed.y;
  FDpi = Dpi;
  SetWindowPos(FHandle, nullptr, Suggested.left, Suggested.top, Suggested.right - Suggested.left,
               Suggested.bottom - Suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  LayoutControls();
  if (inCorner) DoProcess_PlaceWindow();
  // The notification area may have changed its scale too.
  FTrayIcon->ReloadImages();
}

void TFormMain::DoProcess_ShowMainWindow(bool Force) {
  if (!Force && !(FEnvSettings && FEnvSettings->WindowVisible())) return;
  FApp.SetToolWindowStyle();
  ShowWindow(FHandle, SW_SHOW);
  BringFormToFront(FHandle);
}

} // namespace kav
