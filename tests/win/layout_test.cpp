// The program's windows at the screen's DPI. The program is per-monitor DPI
// aware, so Windows scales nothing for it: the status window and the
// settings dialog scale their places, sizes and fonts themselves and follow
// WM_DPICHANGED; the About dialog keeps its pixels.
//
// CTest runs this test twice: in the run's own prefix at 96 dpi, where it
// writes down what it measured, and then in a prefix whose screen has
// 144 dpi (KAV_TEST_DPI=144), where it finds the status window and the
// settings dialog 1.5 times as large as the 96-dpi run found them and the
// About dialog unchanged.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "app/win/Application.h"
#include "app/win/FormUtil.h"
#include "app/win/frmMain.h"
#include "common/core/TextUtil.h"
#include "common/win/KCFL_FormAbout.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_VersionInfo.h"
#include "common/win/WindowText.h"
#include "settings/win/frmEnvSettings.h"
#include "tests/win/support/HostEnvironment.h"
#include "tests/win/support/MessagePump.h"
#include "tests/win/support/ModalDriver.h"
#include "tests/win/support/SettingsHostStub.h"

using namespace kav;
using namespace kavtest;

namespace {

// What a window looks like, as numbers: "client.w", "101.left", "101.font", ...
using TFigures = std::map<std::string, long>;

int ExpectedDpi() {
  const std::wstring dpi = EnvVar(L"KAV_TEST_DPI");
  return dpi.empty() ? 96 : _wtoi(dpi.c_str());
}

std::wstring FiguresFile() { return WinePath(KAV_BINARY_DIR) + L"\\layout-96dpi.txt"; }

struct TMeasureContext {
  HWND Top;
  TFigures* Figures;
};

BOOL CALLBACK MeasureControl(HWND Control, LPARAM Param) {
  auto* ctx = reinterpret_cast<TMeasureContext*>(Param);
  TFigures& f = *ctx->Figures;
  const std::string id = std::to_string(GetDlgCtrlID(Control));
  // Places within the parent (a page's controls on their page), from its
  // left and top edges and from its right and bottom edges.
  HWND parent = GetParent(Control);
  RECT r{}, area{};
  GetWindowRect(Control, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  GetClientRect(parent, &area);
  f[id + ".left"] = r.left;
  f[id + ".width"] = r.right - r.left;
  f[id + ".right"] = area.right - r.right;
  f[id + ".top"] = r.top;
  f[id + ".height"] = r.bottom - r.top;
  f[id + ".bottom"] = area.bottom - r.bottom;
  if (auto font = reinterpret_cast<HFONT>(SendMessageW(Control, WM_GETFONT, 0, 0))) {
    LOGFONTW lf{};
    GetObjectW(font, sizeof lf, &lf);
    f[id + ".font"] = lf.lfHeight;
  }
  return TRUE;
}

// The window's client size, and of every control below it (pages included)
// its place in the window's client area and its font height.
TFigures Measure(HWND Wnd) {
  TFigures f;
  RECT client{};
  GetClientRect(Wnd, &client);
  f["client.w"] = client.right;
  f["client.h"] = client.bottom;
  TMeasureContext ctx{Wnd, &f};
  EnumChildWindows(Wnd, &MeasureControl, reinterpret_cast<LPARAM>(&ctx));
  return f;
}

// Expects Actual to be Factor times Base: client sizes within Slack pixels
// (each figure is rounded to whole pixels on its own), font heights to the
// whole pixel,
// and every control in its place. A control keeps its place when two of its
// left edge, width and distance from the parent's right edge scale (it hangs
// on the left, on the right, or stretches with its parent), and the same
// upright. What the system derives from the font does not scale exactly
// (the tab row above the settings pages, the closed height of a drop-down
// list): within a tenth.
void ExpectScaled(const std::string& What, const TFigures& Base, const TFigures& Actual, double Factor, long Slack) {
  ASSERT_EQ(Base.size(), Actual.size()) << What << ": the same controls";
  const auto scales = [&](const std::string& Key, double Tolerance) {
    const auto it = Actual.find(Key);
    return it != Actual.end() && Base.count(Key) && std::fabs(it->second - Base.at(Key) * Factor) <= Tolerance;
  };
  const auto show = [&](const std::string& Key) {
    return Key + " " + std::to_string(Actual.count(Key) ? Actual.at(Key) : -1) + " (" +
           std::to_string(Base.count(Key) ? Base.at(Key) : -1) + " at the other DPI)";
  };
  for (const std::string key : {"client.w", "client.h"}) EXPECT_TRUE(scales(key, Slack + 0.5)) << What << " " << show(key);
  for (const auto& [key, base] : Base) {
    const std::size_t dot = key.find('.');
    if (key.compare(dot, std::string::npos, ".font") == 0) {
      // Whole pixels: the product of doubles need not be exact (x87 keeps more bits).
      EXPECT_TRUE(Actual.count(key) && Actual.at(key) == std::lround(base * Factor)) << What << " " << show(key);
    }
    if (key.compare(dot, std::string::npos, ".left") != 0) continue;
    const std::string id = key.substr(0, dot);
    const bool fromFont = id == std::to_string(TFormEnvSettings::IDC_TAB_BASIC) ||
                          id == std::to_string(TFormEnvSettings::IDC_TAB_HOTKEY) ||
                          id == std::to_string(TFormEnvSettings::IDC_CMB_COMPORTNUM);
    for (const auto& axis : {std::array<const char*, 3>{".left", ".width", ".right"},
                             std::array<const char*, 3>{".top", ".height", ".bottom"}}) {
      int scaled = 0;
      for (const char* edge : axis) {
        const double tolerance = fromFont && Factor != 1.0 ? std::max(Slack + 0.5, std::fabs(Base.at(id + edge)) * Factor / 10)
                                                           : Slack + 0.5;
        scaled += scales(id + edge, tolerance) ? 1 : 0;
      }
      EXPECT_GE(scaled, 2) << What << " control " << id << ": " << show(id + axis[0]) << ", " << show(id + axis[1])
                           << ", " << show(id + axis[2]);
    }
  }
}

std::string Serialize(const std::map<std::string, TFigures>& All) {
  std::ostringstream out;
  for (const auto& [window, figures] : All)
    for (const auto& [key, value] : figures) out << window << ' ' << key << ' ' << value << '\n';
  return out.str();
}

std::map<std::string, TFigures> Parse(const std::string& Text) {
  std::map<std::string, TFigures> all;
  std::istringstream in(Text);
  std::string window, key;
  long value = 0;
  while (in >> window >> key >> value) all[window][key] = value;
  return all;
}

// The About dialog's figures, measured inside its modal loop.
TFigures MeasureAboutDialog(const TVersionInfo& Version) {
  TFigures figures;
  TFormAbout about(nullptr);
  about.Init(&Version);
  TModalDriver(TFormAbout::KWindowClass).Run(about, [&](HWND dlg) {
    figures = Measure(dlg);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
  });
  return figures;
}

class Layout : public ::testing::Test {
protected:
  void SetUp() override {
    FApp = std::make_unique<TApplication>(GetModuleHandleW(nullptr));
    FMain = std::make_unique<TFormMain>(*FApp);
    ASSERT_TRUE(FMain->FormCreated());
    FSettings = std::make_unique<TFormEnvSettings>(FApp->Handle(), FHost);
  }
  void TearDown() override {
    FSettings.reset();
    FMain.reset();
    FApp.reset();
    DropQuitMessages();
  }

  // Sends WM_DPICHANGED as Windows does when a window moves to a monitor of
  // Dpi: the suggested rectangle is the window's own, scaled, at TopLeft.
  static RECT SendDpiChanged(HWND Wnd, int FromDpi, int Dpi, POINT TopLeft) {
    RECT r{};
    GetWindowRect(Wnd, &r);
    RECT suggested{TopLeft.x, TopLeft.y, TopLeft.x + MulDiv(r.right - r.left, Dpi, FromDpi),
                   TopLeft.y + MulDiv(r.bottom - r.top, Dpi, FromDpi)};
    SendMessageW(Wnd, WM_DPICHANGED, MAKEWPARAM(Dpi, Dpi), reinterpret_cast<LPARAM>(&suggested));
    return suggested;
  }

  TSettingsHostStub FHost;
  std::unique_ptr<TApplication> FApp;
  std::unique_ptr<TFormMain> FMain;
  std::unique_ptr<TFormEnvSettings> FSettings;
};

} // namespace

TEST_F(Layout, WindowsScaleWithTheScreenAndTheAboutDialogKeepsItsPixels) {
  const int dpi = ExpectedDpi();
  // The manifest makes the program per-monitor aware; otherwise Windows (and
  // Wine) would report 96 to it on any screen.
  using TGetAwareness = int(WINAPI*)(DPI_AWARENESS_CONTEXT);
  using TGetThreadContext = DPI_AWARENESS_CONTEXT(WINAPI*)();
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto getAwareness = reinterpret_cast<TGetAwareness>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
  auto getContext = reinterpret_cast<TGetThreadContext>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  auto getDpi = reinterpret_cast<TGetDpiForWindow>(reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
  ASSERT_TRUE(getAwareness && getContext && getDpi);
  EXPECT_EQ(getAwareness(getContext()), 2) << "per-monitor DPI aware";
  ASSERT_EQ(static_cast<int>(getDpi(FMain->Handle())), dpi) << "the screen of this run";
  ASSERT_EQ(static_cast<int>(getDpi(FSettings->Handle())), dpi);

  TVersionInfo version(GetExeFullPath());
  std::map<std::string, TFigures> now{{"status", Measure(FMain->Handle())},
                                      {"settings", Measure(FSettings->Handle())},
                                      {"about", MeasureAboutDialog(version)}};
  ASSERT_GT(now["settings"].size(), 100u) << "controls of both pages";
  ASSERT_GT(now["about"].size(), 20u);

  if (dpi == 96) {
    // The designed sizes, written down for the run at another DPI.
    EXPECT_EQ(now["status"]["client.w"], 214);
    EXPECT_EQ(now["settings"]["client.w"], 394);
    EXPECT_EQ(now["settings"]["client.h"], 442);
    EXPECT_EQ(now["about"]["client.w"], 464);
    std::ofstream(FiguresFile().c_str(), std::ios::binary | std::ios::trunc) << Serialize(now);
    return;
  }
  std::ifstream in(FiguresFile().c_str(), std::ios::binary);
  ASSERT_TRUE(in) << "the 96-dpi run writes " << ToUtf8(FiguresFile());
  std::stringstream text;
  text << in.rdbuf();
  auto at96 = Parse(text.str());
  const double factor = dpi / 96.0;
  ExpectScaled("status window", at96["status"], now["status"], factor, 1);
  ExpectScaled("settings dialog", at96["settings"], now["settings"], factor, 2);
  ExpectScaled("About dialog", at96["about"], now["about"], 1.0, 0);
}

TEST_F(Layout, WindowsFollowAMoveToAMonitorOfAnotherDpi) {
  const int dpi = ExpectedDpi();
  const int other = dpi == 96 ? 144 : 96;
  const double factor = static_cast<double>(other) / dpi;
  HWND main = FMain->Handle();
  HWND settings = FSettings->Handle();

  // The status window, shown, sits in the work area's bottom-right corner
  // and stays there at its new size.
  FMain->pmiWindowVisibleClick();
  const RECT work = PrimaryWorkArea();
  auto expectInCorner = [&](const char* when) {
    RECT r{};
    GetWindowRect(main, &r);
    EXPECT_EQ(r.right, work.right - work.left - 5) << when;
    EXPECT_EQ(r.bottom, work.bottom - work.top - 5) << when;
  };
  expectInCorner("before");
  const TFigures mainBefore = Measure(main);
  SendDpiChanged(main, dpi, other, POINT{40, 50});
  ExpectScaled("status window", mainBefore, Measure(main), factor, 1);
  expectInCorner("after the change");
  // Moved away by the user, it goes where Windows suggests.
  SetWindowPos(main, nullptr, 100, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT suggested = SendDpiChanged(main, other, dpi, POINT{60, 70});
  RECT r{};
  GetWindowRect(main, &r);
  EXPECT_EQ(r.left, suggested.left);
  EXPECT_EQ(r.top, suggested.top);
  EXPECT_EQ(Measure(main), mainBefore) << "back at its own DPI, everything as it was";

  // The settings dialog: scaled at the suggested place, and back again.
  const TFigures settingsBefore = Measure(settings);
  const RECT there = SendDpiChanged(settings, dpi, other, POINT{30, 20});
  GetWindowRect(settings, &r);
  EXPECT_EQ(r.left, there.left);
  EXPECT_EQ(r.top, there.top);
  ExpectScaled("settings dialog", settingsBefore, Measure(settings), factor, 2);
  SendDpiChanged(settings, other, dpi, POINT{30, 20});
  EXPECT_EQ(Measure(settings), settingsBefore);
}

TEST_F(Layout, StatusCaptionsAreNotCutBeforeTheirValues) {
  // Each caption runs up to its value; the label never cuts a caption that
  // fits in that space. Measured with the label's own font, which on a
  // Windows-like screen is Tahoma with the Japanese UI font behind it.
  HWND main = FMain->Handle();
  HDC dc = GetDC(main);
  for (int id : {TFormMain::IDC_LBL_HOTKEYENABLED, TFormMain::IDC_LBL_POWER, TFormMain::IDC_LBL_BLACKOUT,
                 TFormMain::IDC_LBL_SELCHANNEL}) {
    HWND caption = FMain->Control(id);
    HWND value = FMain->Control(id + 1);
    const std::wstring text = WindowText(caption);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(caption, WM_GETFONT, 0, 0)));
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    EXPECT_STREQ(face, L"Tahoma");

    RECT cap{}, val{}, client{};
    GetWindowRect(caption, &cap);
    GetWindowRect(value, &val);
    GetClientRect(caption, &client);
    const long space = val.left - cap.left;  // from the caption to its value
    EXPECT_LE(cap.right, val.left) << "the caption leaves its value alone";
    EXPECT_GE(client.right, std::min<long>(extent.cx, space)) << ToUtf8(text) << " is " << extent.cx << " wide";
    // With Windows' own metrics every caption, dots included, fits before its value.
    EXPECT_LE(extent.cx, space) << ToUtf8(text) << " is " << extent.cx << " wide";
    EXPECT_GE(client.bottom, extent.cy) << ToUtf8(text);
    RecordProperty("caption" + std::to_string(id), std::to_string(extent.cx) + " of " + std::to_string(space));
  }
  ReleaseDC(main, dc);
}
