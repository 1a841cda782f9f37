#include "common/win/KCFL_FormAbout.h"

#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "common/win/CallbackGuard.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_ShellFunc.h"
#include "common/win/KCL_VersionInfo.h"
#include "common/win/ModalLoop.h"
#include "common/win/WindowBinding.h"
#include "common/win/WindowClass.h"
#include "common/win/WindowText.h"

namespace kav {

const wchar_t TFormAbout::KMakerUrl[] = L"https://www.kova.example/";
const wchar_t TFormAbout::KWindowClass[] = L"KavFormAbout";

namespace {

const wchar_t KIconBoxClass[] = L"KavFormAboutIcon";
const wchar_t KCaption[] = L"バージョン情報";
constexpr int KClientWidth = 464;
constexpr int KClientHeight = 272;
constexpr DWORD KStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD KExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;

TFormAbout::TUrlOpener& UrlOpener() {
  static TFormAbout::TUrlOpener opener;
  return opener;
}

HFONT MakeFont(const wchar_t* Face, int Height, int Weight, bool Underline) {
  LOGFONTW lf{};
  lf.lfHeight = -Height;
  lf.lfWeight = Weight;
  lf.lfUnderline = Underline ? TRUE : FALSE;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lstrcpynW(lf.lfFaceName, Face, LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

} // namespace

TFormAbout::TFormAbout(HWND Owner) : FOwner(Owner) {}

TFormAbout::~TFormAbout() {
  if (FHandle) DestroyWindow(FHandle);
}

void TFormAbout::Init(const TVersionInfo* VersionInfo) { FVersinInfo = VersionInfo; }

TFormAbout::TUrlOpener TFormAbout::SetUrlOpener(TUrlOpener Opener) {
  return std::exchange(UrlOpener(), std::move(Opener));
}

void TFormAbout::RegisterClasses() {
  RegisterWindowClass({KWindowClass, &BoundWindowProc<TFormAbout, &TFormAbout::FHandle, &TFormAbout::HandleMessage>});
  RegisterWindowClass({KIconBoxClass, &TFormAbout::IconBoxProc});
}

int TFormAbout::ShowModal() {
  if (FHandle) return 0;  // already showing: a modal dialog cannot nest itself
  RegisterClasses();
  if (!FFont) FFont.Reset(MakeFont(L"Tahoma", 12, FW_NORMAL, false));
  if (!FTitleFont) FTitleFont.Reset(MakeFont(L"MS UI Gothic", 21, FW_BOLD, false));
  if (!FUrlFont) FUrlFont.Reset(MakeFont(L"Tahoma", 12, FW_NORMAL, true));

  // Sizes in pixels: the dialog is not scaled with the screen's DPI.
  RECT r{0, 0, KClientWidth, KClientHeight};
  AdjustWindowRectEx(&r, KStyle, FALSE, KExStyle);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  HWND wnd = CreateWindowExW(KExStyle, KWindowClass, KCaption, KStyle, left, top, width, height, FOwner,
                             nullptr, GetModuleHandleW(nullptr), this);
  if (!wnd) return 0;
  CreateControls();
  FormShow();

  FModalResult = 0;
  FDone = false;
  TDisabledWindows disabled(FHandle);
  ShowWindow(FHandle, SW_SHOWNORMAL);
  SetForegroundWindow(FHandle);
  SetFocus(GetDlgItem(FHandle, IDOK));

  // A WM_QUIT ends the dialog and goes on to the outer loop.
  RunModal(FHandle, [this] { return FDone; });

  // Enable the other windows before the dialog goes, so that activation can
  // return to one of them.
  disabled.Restore();
  if (FHandle) {
    ShowWindow(FHandle, SW_HIDE);
    DestroyWindow(FHandle);
  }
  return FModalResult;
}

void TFormAbout::CreateControls() {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  auto make = [&](DWORD exStyle, const wchar_t* cls, DWORD style, int x, int y, int w, int h, int id) {
    HWND c = CreateWindowExW(exStyle, cls, L"", WS_CHILD | WS_CLIPSIBLINGS | style, x, y, w, h, FHandle,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
    return c;
  };
  const DWORD label = WS_VISIBLE | SS_NOPREFIX;
  // Creation order is the z-order (first on top); the framed panel comes
  // last so that it lies behind the texts.
  HWND title = make(0, L"STATIC", label | SS_LEFT, 0, 15, 10, 21, IdProductName);
  SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(FTitleFont.Get()), FALSE);
  make(0, KIconBoxClass, WS_VISIBLE, 25, 50, 32, 32, IdIcon);
  make(0, L"STATIC", label | SS_LEFT | SS_ENDELLIPSIS, 70, 50, 380, 14, IdDescription);
  make(0, L"STATIC", label | SS_LEFT, 70, 80, 10, 14, IdInternalName);
  make(0, L"STATIC", label | SS_LEFT, 150, 80, 10, 14, IdVersion);
  make(0, L"STATIC", SS_NOPREFIX | SS_LEFT, 70, 100, 10, 14, IdDLLName);
  make(0, L"STATIC", SS_NOPREFIX | SS_LEFT, 150, 100, 10, 14, IdDLLVersion);
  make(WS_EX_CLIENTEDGE, L"EDIT", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 20, 120, 420, 10, IdNote);
  make(0, L"STATIC", label | SS_CENTER, 175, 130, 10, 14, IdCompany);
  make(0, L"STATIC", label | SS_CENTER, 50, 160, 377, 14, IdCopyright);
  HWND url = make(0, L"STATIC", label | SS_CENTER | SS_NOTIFY, 160, 200, 160, 14, IdURL);
  SendMessageW(url, WM_SETFONT, reinterpret_cast<WPARAM>(FUrlFont.Get()), FALSE);
  SetWindowTextW(url, KMakerUrl);
  FitLabel(IdURL, false);
  HWND ok = make(0, L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 200, 240, 80, 25, IDOK);
  SetWindowTextW(ok, L"OK");
  make(0, L"STATIC", WS_VISIBLE | SS_ETCHEDFRAME, 10, 10, 445, 220, IdBevel);
}

void TFormAbout::SetLabel(int Id, const std::wstring& Text) { SetWindowTextW(GetDlgItem(FHandle, Id), Text.c_str()); }

// Sizes a label to its text as an auto-sized label does: its left and top
// stay; a word-wrapped label keeps its width and grows downwards; a label
// with a fixed width keeps the width and takes the text's height.
void TFormAbout::FitLabel(int Id, bool WordWrap) {
  HWND c = GetDlgItem(FHandle, Id);
  if (!c) return;
  const std::wstring text = WindowText(c);
  RECT wr;
  GetWindowRect(c, &wr);
  MapWindowPoints(nullptr, FHandle, reinterpret_cast<POINT*>(&wr), 2);
  const int currentWidth = wr.right - wr.left;
  RECT calc{0, 0, WordWrap ? currentWidth : 0, 0};
  {
    const TWindowDC dc(c);
    const TSelectedObject font(dc.Get(), reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)));
    const std::wstring measured = text.empty() ? std::wstring(L" ") : text;
    DrawTextW(dc.Get(), measured.c_str(), -1, &calc,
              DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (WordWrap ? DT_WORDBREAK : DT_SINGLELINE));
  }
  int w = calc.right - calc.left;
  if (text.empty()) w = 0;
  const int h = calc.bottom - calc.top;
  const bool fixedWidth = WordWrap || Id == IdDescription || Id == IdURL;
  SetWindowPos(c, nullptr, 0, 0, fixedWidth ? currentWidth : w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFormAbout::FormShow() {
  if (FVersinInfo) {
    SetLabel(IdProductName, FVersinInfo->ProductName());
    SetLabel(IdDescription, FVersinInfo->FileDescription());
    SetLabel(IdInternalName, FVersinInfo->InternalName());
    SetLabel(IdVersion, L"Ver." + FVersinInfo->FileVersion());
    SetLabel(IdCompany, FVersinInfo->CompanyName());
    SetLabel(IdCopyright, FVersinInfo->LegalCopyright());
  }
  HWND title = GetDlgItem(FHandle, IdProductName);
  FitLabel(IdProductName, false);
  // The title label is 21 pixels high as designed, or as high as its text
  // when the font standing in for MS UI Gothic is taller, so that no glyph
  // is cut off.
  RECT tr;
  GetWindowRect(title, &tr);
  const int titleWidth = tr.right - tr.left;
  const int titleHeight = std::max(21, static_cast<int>(tr.bottom - tr.top));
  SetWindowPos(title, nullptr, 0, 0, titleWidth, titleHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  FitLabel(IdDescription, false);
  FitLabel(IdInternalName, false);
  FitLabel(IdVersion, false);
  FitLabel(IdCompany, false);
  FitLabel(IdCopyright, true);

  // Centre the product name by the outer widths, as the dialog was designed.
  RECT dr;
  GetWindowRect(FHandle, &dr);
  const int left = ((dr.right - dr.left) - titleWidth) / 2;
  SetWindowPos(title, nullptr, left, 15, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFormAbout::lblURLClick() {
  const std::wstring url = WindowText(GetDlgItem(FHandle, IdURL));
  if (auto& opener = UrlOpener())
    opener(url);
  else
    OpenWithShell(url, SW_SHOWNORMAL, FHandle);
}

void TFormAbout::EndModal(int Result) {
  FModalResult = Result;
  FDone = true;
  // Wake the modal loop if the close came from outside a dispatched message.
  PostMessageW(FHandle, WM_NULL, 0, 0);
}

LRESULT TFormAbout::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
  case WM_NCDESTROY:
    // Destroyed from outside (its owner went): the modal loop ends too.
    FDone = true;
    break;
  case WM_COMMAND: {
    const int id = LOWORD(WParam);
    const int code = HIWORD(WParam);
    if ((id == IDOK || id == IDCANCEL) && (code == BN_CLICKED || LParam == 0)) {
      EndModal(id);
      return 0;
    }
    if (id == IdURL && code == STN_CLICKED) {
      lblURLClick();
      return 0;
    }
    break;
  }
  case WM_CLOSE:
    EndModal(IDCANCEL);
    return 0;
  case DM_GETDEFID:
    return MAKELRESULT(IDOK, DC_HASDEFID);
  case WM_CTLCOLORSTATIC:
    if (reinterpret_cast<HWND>(LParam) == GetDlgItem(FHandle, IdURL)) {
      HDC dc = reinterpret_cast<HDC>(WParam);
      SetTextColor(dc, RGB(0, 0, 255));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    break;
  case WM_SETCURSOR:
    if (reinterpret_cast<HWND>(WParam) == GetDlgItem(FHandle, IdURL)) {
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    }
    break;
  default:
    break;
  }
  return DefWindowProcW(FHandle, Msg, WParam, LParam);
}

// The icon box: the executable's first icon, stretched to the box.
LRESULT CALLBACK TFormAbout::IconBoxProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg != WM_PAINT || CallbacksSuspended()) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(Wnd, &ps);
  GuardCallback([&] {
    RECT rc;
    GetClientRect(Wnd, &rc);
    const std::wstring exe = GetExeFullPath();
    HICON extracted = ExtractIconW(GetModuleHandleW(nullptr), exe.c_str(), 0);
    // ExtractIcon answers 1 for a file that is not an executable or icon.
    if (extracted == reinterpret_cast<HICON>(1)) extracted = nullptr;
    TIconHandle icon(extracted);
    if (icon.Get())
      DrawIconEx(dc, 0, 0, icon.Get(), rc.right - rc.left, rc.bottom - rc.top, 0, nullptr, DI_NORMAL);
  });
  EndPaint(Wnd, &ps);
  return 0;
}

} // namespace kav
