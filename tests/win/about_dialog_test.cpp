// The About dialog as a person and a screen reader see it: texts, places,
// fonts, the painted icon, the link label and the ways to close it.
#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <map>
#include <string>

#include "common/win/KCFL_FormAbout.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_VersionInfo.h"
#include "common/win/WindowText.h"
#include "tests/win/support/ModalDriver.h"

namespace {

using kav::TFormAbout;
using kavtest::TModalDriver;
using kav::WindowText;

struct TControl {
  std::wstring Text;
  RECT Rect{};  // client coordinates of the dialog
  bool Visible = false;
  LONG_PTR Style = 0;
  LOGFONTW Font{};
};

struct TSnapshot {
  std::wstring Caption;
  RECT Window{};
  RECT Client{};
  LONG_PTR Style = 0;
  HWND Owner = nullptr;
  std::map<int, TControl> Controls;
  int IconInkPixels = 0;
  bool OtherWindowDisabled = false;
};

TSnapshot Snapshot(HWND dlg, HWND other) {
  TSnapshot s;
  s.Caption = WindowText(dlg);
  GetWindowRect(dlg, &s.Window);
  GetClientRect(dlg, &s.Client);
  s.Style = GetWindowLongPtrW(dlg, GWL_STYLE);
  s.Owner = GetWindow(dlg, GW_OWNER);
  for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    TControl t;
    t.Text = WindowText(c);
    GetWindowRect(c, &t.Rect);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&t.Rect), 2);
    t.Visible = (GetWindowLongPtrW(c, GWL_STYLE) & WS_VISIBLE) != 0;
    t.Style = GetWindowLongPtrW(c, GWL_STYLE);
    if (HFONT f = reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0))) GetObjectW(f, sizeof(t.Font), &t.Font);
    s.Controls[GetDlgCtrlID(c)] = t;
  }
  // The icon box must show something other than the dialog's background.
  HWND icon = GetDlgItem(dlg, TFormAbout::IdIcon);
  RedrawWindow(icon, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  HDC dc = GetDC(icon);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      COLORREF px = GetPixel(dc, x, y);
      if (px != CLR_INVALID && px != face) ++s.IconInkPixels;
    }
  ReleaseDC(icon, dc);
  s.OtherWindowDisabled = other && !IsWindowEnabled(other);
  return s;
}

class AboutDialog : public ::testing::Test {
protected:
  void SetUp() override { FVersion = std::make_unique<kav::TVersionInfo>(kav::GetExeFullPath()); }
  std::unique_ptr<kav::TVersionInfo> FVersion;
};

TEST_F(AboutDialog, ShowsTheVersionResourceAtTheDesignedPlaces) {
  // A visible window of the same thread stands for the status window: the
  // modal dialog disables it and enables it again afterwards.
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(other);
  TFormAbout form(nullptr);
  form.Init(FVersion.get());
  TSnapshot s;
  TModalDriver driver(TFormAbout::KWindowClass);
  int result = driver.Run(form, [&](HWND dlg) {
    s = Snapshot(dlg, other);
    PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_TRUE(driver.Ran);
  EXPECT_TRUE(IsWindowEnabled(other));
  EXPECT_TRUE(s.OtherWindowDisabled);
  EXPECT_EQ(form.Handle(), nullptr);
  DestroyWindow(other);

  EXPECT_EQ(s.Caption, L"バージョン情報");
  EXPECT_EQ(s.Client.right, 464);
  EXPECT_EQ(s.Client.bottom, 272);
  EXPECT_EQ(s.Owner, nullptr);
  EXPECT_FALSE(s.Style & WS_THICKFRAME);
  EXPECT_FALSE(s.Style & WS_MINIMIZEBOX);
  EXPECT_FALSE(s.Style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(s.Style & WS_SYSMENU);
  const int outerW = s.Window.right - s.Window.left;
  const int outerH = s.Window.bottom - s.Window.top;
  EXPECT_EQ(s.Window.left, (GetSystemMetrics(SM_CXSCREEN) - outerW) / 2);
  EXPECT_EQ(s.Window.top, (GetSystemMetrics(SM_CYSCREEN) - outerH) / 2);

  auto& c = s.Controls;
  auto expectAt = [&](int id, int x, int y, int w, int h) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(c.count(id));
    EXPECT_EQ(c[id].Rect.left, x);
    EXPECT_EQ(c[id].Rect.top, y);
    if (w >= 0) {
      EXPECT_EQ(c[id].Rect.right - c[id].Rect.left, w);
    }
    if (h >= 0) {
      EXPECT_EQ(c[id].Rect.bottom - c[id].Rect.top, h);
    }
  };
  expectAt(TFormAbout::IdBevel, 10, 10, 445, 220);
  expectAt(TFormAbout::IdIcon, 25, 50, 32, 32);
  expectAt(TFormAbout::IdDescription, 70, 50, 380, -1);
  expectAt(TFormAbout::IdInternalName, 70, 80, -1, -1);
  expectAt(TFormAbout::IdVersion, 150, 80, -1, -1);
  expectAt(TFormAbout::IdDLLName, 70, 100, -1, -1);
  expectAt(TFormAbout::IdDLLVersion, 150, 100, -1, -1);
  expectAt(TFormAbout::IdNote, 20, 120, 420, 10);
  expectAt(TFormAbout::IdCompany, 175, 130, -1, -1);
  expectAt(TFormAbout::IdCopyright, 50, 160, 377, -1);
  expectAt(TFormAbout::IdURL, 160, 200, 160, -1);
  expectAt(IDOK, 200, 240, 80, 25);

  // The product name: 21 pixels high at top 15, centred by the outer widths.
  auto& title = c[TFormAbout::IdProductName];
  const int titleW = title.Rect.right - title.Rect.left;
  EXPECT_GT(titleW, 40);
  EXPECT_EQ(title.Rect.top, 15);
  // 21 pixels as designed, taller only when the stand-in font needs it.
  EXPECT_GE(title.Rect.bottom - title.Rect.top, 21);
  EXPECT_LE(title.Rect.bottom - title.Rect.top, 40);
  EXPECT_EQ(title.Rect.left, (outerW - titleW) / 2);
  EXPECT_STREQ(title.Font.lfFaceName, L"MS UI Gothic");
  EXPECT_EQ(title.Font.lfHeight, -21);
  EXPECT_EQ(title.Font.lfWeight, FW_BOLD);

  EXPECT_EQ(title.Text, L"KTX-AV90R制御ソフト");
  EXPECT_EQ(title.Text, FVersion->ProductName());
  EXPECT_EQ(c[TFormAbout::IdDescription].Text, L"KOVA KTX-AV90R制御ソフト");
  EXPECT_EQ(c[TFormAbout::IdInternalName].Text, L"KTX-AV90R");
  EXPECT_EQ(c[TFormAbout::IdVersion].Text, L"Ver.1.1.1.10");
  EXPECT_EQ(c[TFormAbout::IdCompany].Text, FVersion->CompanyName());
  EXPECT_FALSE(c[TFormAbout::IdCompany].Text.empty());
  EXPECT_EQ(c[TFormAbout::IdCopyright].Text, FVersion->LegalCopyright());
  EXPECT_FALSE(c[TFormAbout::IdCopyright].Text.empty());
  EXPECT_EQ(c[TFormAbout::IdURL].Text, TFormAbout::KMakerUrl);
  EXPECT_EQ(c[IDOK].Text, L"OK");
  EXPECT_EQ(c[IDOK].Style & BS_TYPEMASK, BS_DEFPUSHBUTTON);

  // Auto-sized labels hug their text; centred ones centre it in their box.
  for (int id : {TFormAbout::IdInternalName, TFormAbout::IdVersion, TFormAbout::IdCompany}) {
    SCOPED_TRACE(id);
    EXPECT_GT(c[id].Rect.right - c[id].Rect.left, 10);
    EXPECT_LT(c[id].Rect.right - c[id].Rect.left, 300);
  }
  EXPECT_EQ(c[TFormAbout::IdCompany].Style & SS_TYPEMASK, SS_CENTER);
  EXPECT_EQ(c[TFormAbout::IdCopyright].Style & SS_TYPEMASK, SS_CENTER);
  EXPECT_EQ(c[TFormAbout::IdURL].Style & SS_TYPEMASK, SS_CENTER);
  EXPECT_TRUE(c[TFormAbout::IdURL].Font.lfUnderline);

  for (int id : {TFormAbout::IdDLLName, TFormAbout::IdDLLVersion, TFormAbout::IdNote}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(c[id].Visible);
  }
  for (int id : std::initializer_list<int>{TFormAbout::IdProductName, TFormAbout::IdIcon, TFormAbout::IdDescription,
                 TFormAbout::IdInternalName, TFormAbout::IdVersion, TFormAbout::IdCompany,
                 TFormAbout::IdCopyright, TFormAbout::IdURL, IDOK, TFormAbout::IdBevel}) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(c[id].Visible);
  }
  for (int id : std::initializer_list<int>{TFormAbout::IdDescription, TFormAbout::IdVersion, TFormAbout::IdCompany, IDOK}) {
    SCOPED_TRACE(id);
    EXPECT_STREQ(c[id].Font.lfFaceName, L"Tahoma");
    EXPECT_EQ(c[id].Font.lfHeight, -12);
    EXPECT_EQ(c[id].Font.lfCharSet, SHIFTJIS_CHARSET);
  }
  EXPECT_GT(s.IconInkPixels, 50) << "the program icon is not painted";
}

TEST_F(AboutDialog, LinkLabelOpensTheAddressAndKeysClose) {
  std::wstring opened;
  auto previous = TFormAbout::SetUrlOpener([&](const std::wstring& url) { opened = url; });
  TFormAbout form(nullptr);
  form.Init(FVersion.get());
  TModalDriver driver(TFormAbout::KWindowClass);
  int result = driver.Run(form, [&](HWND dlg) {
    HWND url = GetDlgItem(dlg, TFormAbout::IdURL);
    SendMessageW(url, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(url, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    // The hand cursor over the link.
    SendMessageW(dlg, WM_SETCURSOR, reinterpret_cast<WPARAM>(url), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    PostMessageW(GetDlgItem(dlg, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
  });
  TFormAbout::SetUrlOpener(previous);
  EXPECT_EQ(opened, TFormAbout::KMakerUrl);
  EXPECT_EQ(result, IDCANCEL);

  // Enter presses the default button; the close box cancels.
  result = driver.Run(form, [&](HWND dlg) { PostMessageW(GetDlgItem(dlg, IDOK), WM_KEYDOWN, VK_RETURN, 0); });
  EXPECT_EQ(result, IDOK);
  result = driver.Run(form, [&](HWND dlg) { PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(AboutDialog, ShowingTwiceGivesTheSameTexts) {
  std::map<int, std::wstring> first, second;
  auto grab = [](std::map<int, std::wstring>& into) {
    return [&into](HWND dlg) {
      for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) into[GetDlgCtrlID(c)] = WindowText(c);
      PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    };
  };
  {
    TFormAbout form(nullptr);
    form.Init(FVersion.get());
    TModalDriver driver(TFormAbout::KWindowClass);
    EXPECT_EQ(driver.Run(form, grab(first)), IDOK);
  }
  TFormAbout form(nullptr);
  form.Init(FVersion.get());
  TModalDriver driver(TFormAbout::KWindowClass);
  EXPECT_EQ(driver.Run(form, grab(second)), IDOK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first[TFormAbout::IdVersion], L"Ver.1.1.1.10");
}

TEST_F(AboutDialog, AQuitMessageEndsTheDialogAndReachesTheOuterLoop) {
  TFormAbout form(nullptr);
  form.Init(FVersion.get());
  TModalDriver driver(TFormAbout::KWindowClass);
  driver.Run(form, [](HWND) { PostQuitMessage(3); });
  EXPECT_EQ(form.Handle(), nullptr);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

} // namespace
