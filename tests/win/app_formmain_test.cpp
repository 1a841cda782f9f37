// The status window with a fake device link and a fake settings dialog: what
// the user sees (labels, boxes, tray menu) and what the switcher is sent.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/core/AppExceptions.h"
#include "app/core/IAv90RDevice.h"
#include "app/win/Application.h"
#include "app/win/EnvSettingsForm.h"
#include "app/win/TrayIcon.h"
#include "app/win/frmMain.h"
#include "common/core/TextUtil.h"
#include "common/win/KCL_AppData.h"
#include "common/win/WindowText.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "settings/win/clsEnvSettings.h"
#include "tests/win/support/BoxRecorder.h"
#include "tests/win/support/DeviceNotices.h"
#include "tests/win/support/FakeDevice.h"
#include "tests/win/support/FakeEnvSettingsForm.h"
#include "tests/win/support/FileSystem.h"
#include "tests/win/support/HotKeyTable.h"
#include "tests/win/support/MessagePump.h"

using namespace kav;
using namespace kavtest;

namespace {

const std::wstring Product = L"KTX-AV90R制御ソフト";
const std::wstring PortError = L"COMポートが開けません。\r\n接続、または設定を確認してください。";

class FormMainTest : public ::testing::Test {
protected:
  void SetUp() override {
    // Each box notes the status window's dialog-open flag while it was open.
    Recorder.StateAtShow = [this] { return Form ? Form->FormShowFlg() : false; };
    App = std::make_unique<TApplication>(GetModuleHandleW(nullptr));
    Form = std::make_unique<TFormMain>(*App);
    ASSERT_TRUE(Form->FormCreated());
    Form->SetComPortModule(&Device);
    EnvForm.Host = Form.get();
    EnvForm.Owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234)); // never dereferenced: the box is a fake
    Form->SetEnvSettingsForm(&EnvForm);
    // A known table and record, whatever an earlier test left in the file.
    THotKeyInfoList& list = *Form->HotKeyInfoList();
    list.DoProcess_UnregisterHotKey();
    list.Clear();
    AddDefaultHotKeys(list);
    TEnvSettings& s = *Form->EnvSettings();
    s.SetComPort(L"COM5");
    s.SetPowerUpOnAppStart(false);
    s.SetPowerDownOffAppStart(false);
    s.SetHotKeyEnableOnAppStart(true);
    s.SetPowerUpOnHotKeyCtrl(true);
    s.SetWindowVisible(true);
    Boxes.clear();
  }
  void TearDown() override {
    Form.reset();
    App.reset();
    DropQuitMessages();
  }

  void Press(int index) {
    SendMessageW(Form->Handle(), WM_HOTKEY, static_cast<WPARAM>((*Form->HotKeyInfoList())[index].HotKeyID()), 0);
  }
  void EndInterval() { SendMessageW(Form->Handle(), WM_TIMER, TFormMain::TMR_HOTKEYINTERVAL, 0); }
  void EnableHotKeys() {
    if (!Form->HotKeyEnabled()) Form->pmiHotKeyEnabledClick();
    ASSERT_TRUE(Form->HotKeyEnabled());
    Boxes.clear();
  }
  std::wstring Label(int id) { return WindowText(Form->Control(id)); }

  TFakeDevice Device;
  TFakeEnvSettingsForm EnvForm;
  TBoxRecorder Recorder;
  std::vector<TBox>& Boxes = Recorder.Boxes;
  std::deque<int>& Answers = Recorder.Answers;
  std::function<void()>& WhileBoxOpen = Recorder.WhileOpen;
  std::unique_ptr<TApplication> App;
  std::unique_ptr<TFormMain> Form;
};

} // namespace

TEST_F(FormMainTest, WindowsAfterCreation) {
  HWND app = App->Handle();
  HWND main = Form->Handle();
  wchar_t cls[64];
  GetClassNameW(app, cls, 64);
  EXPECT_STREQ(cls, L"TApplication");
  GetClassNameW(main, cls, 64);
  EXPECT_STREQ(cls, L"TFormMain");
  EXPECT_EQ(WindowText(app), Product);
  EXPECT_EQ(WindowText(main), Product);
  EXPECT_EQ(GetWindowLongPtrW(app, GWL_EXSTYLE), static_cast<LONG_PTR>(WS_EX_TOOLWINDOW));
  EXPECT_EQ(GetWindow(main, GW_OWNER), app);
  EXPECT_FALSE(IsWindowVisible(main));
  EXPECT_FALSE(IsWindowVisible(app));

  // Fixed single border, system menu and close box only.
  const LONG_PTR style = GetWindowLongPtrW(main, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  RECT client{}, outer{};
  GetClientRect(main, &client);
  GetWindowRect(main, &outer);
  EXPECT_EQ(client.right, 214);
  EXPECT_EQ(outer.bottom - outer.top, 125);

  // Labels: places, texts, fonts.
  struct TRow {
    int Caption;
    const wchar_t* CaptionText;
    const wchar_t* Value;
    int Top;
  };
  const TRow rows[] = {{TFormMain::IDC_LBL_HOTKEYENABLED, L"ホットキー制御\u3000\u30FB\u30FB\u30FB", L"無効", 10},
                       {TFormMain::IDC_LBL_POWER, L"KTX-AV90R電源\u3000\u30FB\u30FB\u30FB", L"OFF", 30},
                       {TFormMain::IDC_LBL_BLACKOUT, L"ブラックアウト\u3000\u30FB\u30FB\u30FB", L"OFF", 50},
                       {TFormMain::IDC_LBL_SELCHANNEL, L"選択中の入力ソース\u3000\u30FB\u30FB\u30FB", L"1", 70}};
  for (const auto& r : rows) {
    HWND caption = Form->Control(r.Caption);
    HWND value = Form->Control(r.Caption + 1);
    ASSERT_TRUE(caption && value);
    GetClassNameW(caption, cls, 64);
    EXPECT_EQ(_wcsicmp(cls, L"Static"), 0);
    EXPECT_EQ(WindowText(caption), r.CaptionText);
    EXPECT_EQ(WindowText(value), r.Value);
    RECT rc{};
    GetWindowRect(caption, &rc);
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(rc.left, 25);
    EXPECT_EQ(rc.top, r.Top);
    GetWindowRect(value, &rc);
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(rc.left, 155);
    EXPECT_EQ(rc.top, r.Top);
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(caption, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
    EXPECT_EQ(lf.lfHeight, -12);
    EXPECT_LT(lf.lfWeight, FW_BOLD);
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(value, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_EQ(lf.lfHeight, -12);
  }

  // Waiting state: grey tray image, timer armed, nothing registered, no dialog.
  EXPECT_EQ(Form->TrayIcon().ImageIndex(), 1);
  EXPECT_EQ(Form->TrayIcon().Hint(), Product);
  EXPECT_TRUE(Form->StartupTimerEnabled());
  EXPECT_FALSE(Form->HotKeyEnabled());
  EXPECT_FALSE(Form->FormShowFlg());
  EXPECT_EQ(ProgramModelName(), L"KTX-AV90R");
  EXPECT_EQ(Form->ModelName(), L"KTX-AV90R");

  // The first log line names the computer.
  EXPECT_NE(kavtest::ReadUtf8File(LogFile).find(L"起動準備, コンピューター名："), std::wstring::npos);
}

TEST_F(FormMainTest, PopupMenuItemsAndGreying) {
  HMENU m = Form->PopupMenu();
  ASSERT_EQ(GetMenuItemCount(m), 8);
  const wchar_t* captions[] = {L"ホットキー制御(&H)", nullptr, L"環境設定(&S)...", nullptr,
                               L"ウィンドウ表示(&W)", L"バージョン情報(&A)...", nullptr, L"終了(&X)"};
  for (int i = 0; i < 8; ++i) {
    MENUITEMINFOW mi{};
    mi.cbSize = sizeof mi;
    wchar_t buf[64] = {};
    mi.fMask = MIIM_FTYPE | MIIM_STRING;
    mi.dwTypeData = buf;
    mi.cch = 64;
    ASSERT_TRUE(GetMenuItemInfoW(m, static_cast<UINT>(i), TRUE, &mi));
    if (captions[i] == nullptr)
      EXPECT_TRUE(mi.fType & MFT_SEPARATOR) << i;
    else
      EXPECT_STREQ(buf, captions[i]);
  }
  Form->SetFormShowFlg(true);
  Form->pmTrayIconPopup();
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(GetMenuState(m, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED) << i;
  Form->SetFormShowFlg(false);
  Form->pmTrayIconPopup();
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(GetMenuState(m, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED) << i;
}

TEST_F(FormMainTest, ReportedValuesGoToRecordAndLabels) {
  Form->DoProcess_RcvPowerStat(true);
  Form->DoProcess_RcvBlackoutStat(false);
  Form->DoProcess_RcvSelectChannel(3);
  EXPECT_EQ(Label(TFormMain::IDC_LBL_POWERSTAT), L"ON");
  EXPECT_EQ(Label(TFormMain::IDC_LBL_BLACKOUTSTAT), L"OFF");
  EXPECT_EQ(Label(TFormMain::IDC_LBL_SELCHANNELSTAT), L"3");
  EXPECT_TRUE(Form->Av90RStat().FPowerStat);
  EXPECT_FALSE(Form->Av90RStat().FBlackoutStat);
  EXPECT_EQ(Form->Av90RStat().FSelChannel, 3);
  Form->DoProcess_RcvBlackoutStat(true);
  Form->DoProcess_RcvSelectChannel(-7);
  EXPECT_EQ(Label(TFormMain::IDC_LBL_BLACKOUTSTAT), L"ON");
  EXPECT_EQ(Label(TFormMain::IDC_LBL_SELCHANNELSTAT), L"-7");
}

TEST_F(FormMainTest, HotKeyControlSwitchesRegistrationLabelAndTrayImage) {
  EnableHotKeys();
  EXPECT_EQ(Label(TFormMain::IDC_LBL_HOTKEYENABLEDSTAT), L"有効");
  EXPECT_EQ(Form->TrayIcon().ImageIndex(), 0);
  EXPECT_TRUE(GetMenuState(Form->PopupMenu(), TFormMain::IDM_HOTKEYENABLED, MF_BYCOMMAND) & MF_CHECKED);
  for (int i = 0; i < 10; ++i) EXPECT_TRUE((*Form->HotKeyInfoList())[i].Registered()) << i;
  EXPECT_TRUE(Boxes.empty());

  Form->pmiHotKeyEnabledClick();
  EXPECT_FALSE(Form->HotKeyEnabled());
  EXPECT_EQ(Label(TFormMain::IDC_LBL_HOTKEYENABLEDSTAT), L"無効");
  EXPECT_EQ(Form->TrayIcon().ImageIndex(), 1);
  for (int i = 0; i < 10; ++i) EXPECT_FALSE((*Form->HotKeyInfoList())[i].Registered()) << i;
}

TEST_F(FormMainTest, HotKeyPressSendsOneCommandAndSuppressesRepeats) {
  EnableHotKeys();
  // Before any report power is off: the blackout key powers up first.
  Press(1);
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"W1", "B1"}));
  EXPECT_TRUE(Form->HotKeyIntervalEnabled());
  // Inside the 1000 ms window every key is dropped.
  Press(2);
  Press(0);
  EXPECT_EQ(Device.Calls.size(), 2u);

  // The device reports; the next toggle starts from the reported state.
  EndInterval();
  Form->DoProcess_RcvPowerStat(true);
  Form->DoProcess_RcvBlackoutStat(true);
  Device.Calls.clear();
  Press(1);
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"B0"}));
  EndInterval();
  Press(9);
  EndInterval();
  Press(2);
  EndInterval();
  Press(0);
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"B0", "S8", "S1", "W0"}));
  EXPECT_TRUE(Boxes.empty());

  // An identifier of no entry does nothing, not even start the window.
  EndInterval();
  Device.Calls.clear();
  SendMessageW(Form->Handle(), WM_HOTKEY, 0x1234, 0);
  EXPECT_TRUE(Device.Calls.empty());
  EXPECT_FALSE(Form->HotKeyIntervalEnabled());
}

TEST_F(FormMainTest, SuppressionWindowEndsByItselfAfterOneSecond) {
  EnableHotKeys();
  Form->DoProcess_RcvPowerStat(true);
  Press(3);
  EXPECT_TRUE(Form->HotKeyIntervalEnabled());
  PumpFor(600);
  EXPECT_TRUE(Form->HotKeyIntervalEnabled());
  PumpFor(900);
  EXPECT_FALSE(Form->HotKeyIntervalEnabled());
  Press(4);
  // The start-up timer may have ticked meanwhile; only the inputs matter here.
  std::vector<std::string> inputs;
  for (const auto& c : Device.Calls)
    if (c[0] == 'S') inputs.push_back(c);
  EXPECT_EQ(inputs, (std::vector<std::string>{"S2", "S3"}));
}

TEST_F(FormMainTest, EntryIndexBeyondTheNineKnownStartsTheWindowAndSendsNothing) {
  THotKeyInfoList& list = *Form->HotKeyInfoList();
  list.AddItem(0x0078, L"F9"); // index 10, as only a hand-edited file gives
  EnableHotKeys();
  ASSERT_NE(list[10].HotKeyID(), 0);
  Press(10);
  EXPECT_TRUE(Device.Calls.empty());
  EXPECT_TRUE(Form->HotKeyIntervalEnabled());
}

TEST_F(FormMainTest, PortErrorBoxOnFailedPowerCommands) {
  EnableHotKeys();
  Device.PowerResult = false;
  Press(4); // power-up fails: no input command
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"W1"}));
  ASSERT_EQ(Boxes.size(), 1u);
  ExpectBox(Boxes[0], Form->Handle(), PortError, Product, MB_TOPMOST | MB_ICONERROR);

  EndInterval();
  Form->EnvSettings()->SetPowerUpOnHotKeyCtrl(false);
  Device.Calls.clear();
  Press(4); // rule off: the input goes out whatever the power state, no box
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"S3"}));
  EXPECT_EQ(Boxes.size(), 1u);
}

TEST_F(FormMainTest, ProgramErrorsDuringAnActionAreShownAsErrorBox) {
  EnableHotKeys();
  Form->DoProcess_RcvPowerStat(true);
  Device.OnSelectChannel = [] { throw EKavError(L"入力を切り替えられません"); };
  Press(2);
  ASSERT_EQ(Boxes.size(), 1u);
  ExpectBox(Boxes[0], Form->Handle(), L"入力を切り替えられません", L"エラー", MB_ICONERROR);
  EXPECT_TRUE(Form->HotKeyIntervalEnabled()); // the window keeps running

  // Something that is not a program error passes on to the window procedure's
  // guard and from there to the application handler, which drops it.
  EndInterval();
  Device.OnSelectChannel = [] { throw 42; };
  Press(3);
  EXPECT_EQ(Boxes.size(), 1u);
  EXPECT_TRUE(IsWindow(Form->Handle()));
}

TEST_F(FormMainTest, ConfirmedSwitchingOwnersCaptionsAndFlags) {
  // From the tray: the application window owns a top-most box titled with the product name.
  Answers = {IDYES};
  Form->SelectHotKeyEnabled(App->Handle());
  ASSERT_EQ(Boxes.size(), 1u);
  ExpectBox(Boxes[0], App->Handle(), L"ホットキーによる入力ソース選択を有効にしますか？", Product, 0x40024u);
  EXPECT_TRUE(Boxes[0].State);
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_FALSE(Form->FormShowFlg());

  // From a dialog: owned by it, "確認", not top-most; No changes nothing.
  Answers = {IDNO};
  HWND dialog = Form->Handle();
  Form->SelectHotKeyEnabled(dialog);
  ASSERT_EQ(Boxes.size(), 2u);
  ExpectBox(Boxes[1], dialog, L"ホットキーによる入力ソース選択を無効にしますか？", L"確認", 0x24u);
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_FALSE(Form->FormShowFlg());
}

TEST_F(FormMainTest, TrayDoubleClickAsksUnlessADialogIsOpen) {
  TTrayIcon& tray = Form->TrayIcon();
  Form->SetFormShowFlg(true);
  tray.Notify(WM_LBUTTONDBLCLK);
  EXPECT_TRUE(Boxes.empty());
  Form->SetFormShowFlg(false);
  Answers = {IDYES};
  tray.Notify(WM_LBUTTONDOWN); // a press only brings the window forward
  EXPECT_TRUE(Boxes.empty());
  tray.Notify(WM_LBUTTONDBLCLK);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Owner, App->Handle());
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_EQ(tray.ImageIndex(), 0);
}

TEST_F(FormMainTest, StartupWithStoredPort) {
  Form->EnvSettings()->SetPowerUpOnAppStart(true);
  Form->tmrStartupProcessTimer();
  EXPECT_FALSE(Form->StartupTimerEnabled());
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"port COM5", "W1", "C"}));
  EXPECT_TRUE(Boxes.empty());
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_EQ(Form->TrayIcon().ImageIndex(), 0);
  EXPECT_TRUE(IsWindowVisible(Form->Handle()));
  EXPECT_EQ(GetWindowLongPtrW(App->Handle(), GWL_EXSTYLE), static_cast<LONG_PTR>(WS_EX_TOOLWINDOW));

  // Bottom-right of the work area, 5 pixels inside (taskbar at the bottom or none).
  RECT work{}, outer{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(Form->Handle(), &outer);
  EXPECT_EQ(outer.right, (work.right - work.left) - 5);
  EXPECT_EQ(outer.bottom, (work.bottom - work.top) - 5);

  EXPECT_NE(kavtest::ReadUtf8File(LogFile).find(L" 起動\r\n"), std::wstring::npos);
}

TEST_F(FormMainTest, StartupWithMissingPortShowsOneBoxAndStillEnablesHotKeys) {
  Form->EnvSettings()->SetPowerUpOnAppStart(true);
  Form->EnvSettings()->SetWindowVisible(false);
  Device.PowerResult = false;
  Form->tmrStartupProcessTimer();
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"port COM5", "W1"})); // no status request
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, PortError);
  EXPECT_EQ(Boxes[0].Owner, Form->Handle());
  EXPECT_EQ(Boxes[0].Flags, 0x40010u);
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_FALSE(IsWindowVisible(Form->Handle()));
}

TEST_F(FormMainTest, FirstStartAsksForThePortThenRunsTheSettingsPath) {
  Form->EnvSettings()->SetComPort(L"");
  EnvForm.WhileOpen = [&] {
    // Hot keys off and the dialog-open state while it is shown; "起動" not yet logged.
    EXPECT_TRUE(Form->FormShowFlg());
    EXPECT_FALSE(Form->HotKeyEnabled());
    EXPECT_EQ(kavtest::ReadUtf8File(LogFile).find(L" 起動\r\n"), std::wstring::npos);
    EXPECT_EQ(GetWindowLongPtrW(App->Handle(), GWL_EXSTYLE), static_cast<LONG_PTR>(WS_EX_TOOLWINDOW));
    EnvForm.GivenSettings->SetComPort(L"COM7"); // the user picks a port and presses OK
  };
  Answers = {IDOK, IDYES};
  Form->tmrStartupProcessTimer();
  ASSERT_EQ(Boxes.size(), 2u);
  ExpectBox(Boxes[0], App->Handle(), L"KTX-AV90Rと接続しているCOMポートを選択してください。", Product, 0x40040u);
  EXPECT_EQ(EnvForm.Shown, 1);
  EXPECT_EQ(EnvForm.GivenList, Form->HotKeyInfoList());
  EXPECT_EQ(EnvForm.GivenSettings, Form->EnvSettings());
  // The dialog's close question, answered Yes, switched hot keys on.
  EXPECT_EQ(Boxes[1].Caption, L"確認");
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_FALSE(Form->FormShowFlg());
  // No power-up, no status request; the link moves to the stored port.
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"port COM7"}));
  EXPECT_FALSE(IsWindowVisible(Form->Handle()));
  EXPECT_NE(kavtest::ReadUtf8File(LogFile).find(L" 起動\r\n"), std::wstring::npos);

  // From now on the link follows the chosen port's adapter.
  Device.Calls.clear();
  SendMessageW(Form->Handle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
               reinterpret_cast<LPARAM>(kavtest::PortNotice(L"COM7").data()));
  PumpFor(TFormMain::KLinkRefreshDelayMs * 3);
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"close", "port COM7", "C"}));
}

TEST_F(FormMainTest, SettingsPathWithHotKeysOnAsksFirst) {
  EnableHotKeys();
  Answers = {IDNO};
  Form->pmiEnvSettingClick();
  ASSERT_EQ(Boxes.size(), 1u);
  ExpectBox(Boxes[0], App->Handle(), L"ホットキー制御を無効にして、\r\n環境設定を起動しますか？", Product, 0x40024u);
  EXPECT_TRUE(Boxes[0].State);
  EXPECT_EQ(EnvForm.Shown, 0);
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_FALSE(Form->FormShowFlg());
  EXPECT_TRUE(Device.Calls.empty());

  Answers = {IDYES, IDNO};
  EnvForm.WhileOpen = [&] {
    EXPECT_FALSE(Form->HotKeyEnabled());
    EXPECT_FALSE((*Form->HotKeyInfoList())[0].Registered());
  };
  Form->pmiEnvSettingClick();
  EXPECT_EQ(EnvForm.Shown, 1);
  EXPECT_FALSE(Form->HotKeyEnabled()); // No to the closing question
  EXPECT_EQ(Form->TrayIcon().ImageIndex(), 1);
  EXPECT_FALSE(Form->FormShowFlg());
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"port COM5"}));

  // With hot keys off there is no question at all.
  Boxes.clear();
  Answers = {IDYES};
  Form->pmiEnvSettingClick();
  EXPECT_EQ(EnvForm.Shown, 2);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Caption, L"確認");
}

TEST_F(FormMainTest, AFailingDialogDoesNotLeaveTheTrayMenuGreyForever) {
  EnvForm.WhileOpen = [] { throw EKavError(L"壊れた"); };
  EXPECT_THROW(Form->pmiEnvSettingClick(), EKavError);
  EXPECT_FALSE(Form->FormShowFlg());
}

TEST_F(FormMainTest, AboutPathKeepsHotKeysAndClearsTheFlag) {
  EnableHotKeys();
  int shown = 0;
  Form->SetShowAboutFunc([&] {
    ++shown;
    EXPECT_TRUE(Form->FormShowFlg());
    EXPECT_TRUE(Form->HotKeyEnabled());
  });
  Form->pmiVersionClick();
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(Form->FormShowFlg());
  EXPECT_TRUE(Form->HotKeyEnabled());

  Form->SetShowAboutFunc([] { throw std::runtime_error("about failed"); });
  EXPECT_THROW(Form->pmiVersionClick(), std::runtime_error);
  EXPECT_FALSE(Form->FormShowFlg());
}

TEST_F(FormMainTest, CloseBoxHidesExitPowersDown) {
  Form->tmrStartupProcessTimer();
  ASSERT_TRUE(IsWindowVisible(Form->Handle()));
  Device.Calls.clear();
  SendMessageW(Form->Handle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(Form->Handle()));
  EXPECT_FALSE(App->Terminated());
  EXPECT_TRUE(Device.Calls.empty());

  // "ウィンドウ表示(&W)" shows it again, even with the visible setting off.
  Form->EnvSettings()->SetWindowVisible(false);
  Form->pmiWindowVisibleClick();
  EXPECT_TRUE(IsWindowVisible(Form->Handle()));

  // Exit with power-down set: W0, then the loop ends, even when the port fails.
  Form->EnvSettings()->SetPowerDownOffAppStart(true);
  Device.PowerResult = false;
  Form->pmiTerminateClick();
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"W0"}));
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, PortError);
  EXPECT_TRUE(App->Terminated());
  EXPECT_FALSE(Form->QueryEndSession());
  DropQuitMessages(); // leave no quit message to later tests
}

TEST_F(FormMainTest, QueryEndSessionAllowsAndPowersDownOnceWithoutABox) {
  // The port fails: the frame is still tried, but nobody is asked to answer
  // a box while Windows ends the session.
  Form->EnvSettings()->SetPowerDownOffAppStart(true);
  Device.PowerResult = false;
  EXPECT_EQ(SendMessageW(Form->Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"W0"}));
  EXPECT_TRUE(Boxes.empty());
  EXPECT_FALSE(Form->QueryEndSession());
  // Log-off cancelled elsewhere: the next close only hides again.
  SendMessageW(Form->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(Device.Calls.size(), 1u);
  EXPECT_FALSE(App->Terminated());
}

TEST_F(FormMainTest, ARemovalNoticeServedWhileTheChannelClosesDoesNotCloseItAgain) {
  Form->tmrStartupProcessTimer();
  Device.Calls.clear();
  // Closing waits for the watcher while serving sent messages: a second
  // notice of the same removal can arrive inside it.
  int nested = 0;
  Device.OnClosePort = [&] {
    if (nested++ == 0)
      SendMessageW(Form->Handle(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                   reinterpret_cast<LPARAM>(kavtest::PortNotice(L"COM5").data()));
  };
  SendMessageW(Form->Handle(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
               reinterpret_cast<LPARAM>(kavtest::PortNotice(L"COM5").data()));
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"close"}));
  EXPECT_TRUE(Boxes.empty());
  // The next removal closes again.
  SendMessageW(Form->Handle(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
               reinterpret_cast<LPARAM>(kavtest::PortNotice(L"com5").data()));
  EXPECT_EQ(Device.Calls, (std::vector<std::string>{"close", "close"}));
}

TEST_F(FormMainTest, ApplicationExceptionShowsOnlyAccessViolations) {
  Form->ApplicationException(std::make_exception_ptr(EKavError(L"C:\\x.ini に書き込めません")));
  EXPECT_TRUE(Boxes.empty());
  Form->ApplicationException(std::make_exception_ptr(EAccessViolation(L"アドレス 00000000 に対する読み込み違反がおきました")));
  ASSERT_EQ(Boxes.size(), 1u);
  ExpectBox(Boxes[0], App->Handle(), L"アドレス 00000000 に対する読み込み違反がおきました.", Product, MB_OK | MB_ICONERROR);
}

TEST_F(FormMainTest, TrayIconComesBackWhenTheShellRestarts) {
  TTrayIcon& tray = Form->TrayIcon();
  if (!tray.Shown()) GTEST_SKIP() << "no notification area in this session";
  // The shell forgets the icon (as a restarted one would)...
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = tray.Handle();
  nid.uID = TTrayIcon::KIconId;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &nid));
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &nid));
  // ...and announces itself: the icon is added again.
  SendMessageW(tray.Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &nid));
  EXPECT_EQ(tray.ImageIndex(), 1);
  // Announced again while it still has the icon: the icon stays ours.
  SendMessageW(tray.Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(tray.Shown());
}

namespace {

// Plays the notification area: which icons it has, and every call it got.
struct TFakeShell {
  struct TCall {
    DWORD Message;
    HICON Icon;
    std::wstring Tip;
  };
  bool Running = true;       // false: every call fails, as without a shell
  bool HasIcon = false;
  std::vector<TCall> Calls;

  BOOL Notify(DWORD message, const NOTIFYICONDATAW& data) {
    Calls.push_back({message, data.hIcon, data.szTip});
    if (!Running) return FALSE;
    switch (message) {
    case NIM_ADD:
      if (HasIcon) return FALSE; // the shell refuses a second add
      HasIcon = true;
      return TRUE;
    case NIM_MODIFY:
    case NIM_SETVERSION:
      return HasIcon;
    case NIM_DELETE:
      return std::exchange(HasIcon, false);
    default:
      return FALSE;
    }
  }
  int Count(DWORD message) const {
    int n = 0;
    for (const auto& c : Calls) n += c.Message == message;
    return n;
  }
};

class FormMainTrayTest : public FormMainTest {
protected:
  void SetUp() override {
    FPrevShell = TTrayIcon::SetShellNotifyIconHandler(
        [this](DWORD message, NOTIFYICONDATAW& data) { return Shell.Notify(message, data); });
    Shell.Running = ShellRunningAtStart;
    FormMainTest::SetUp();
  }
  void TearDown() override {
    FormMainTest::TearDown();
    TTrayIcon::SetShellNotifyIconHandler(FPrevShell);
  }
  TFakeShell Shell;
  bool ShellRunningAtStart = true;

private:
  TShellNotifyIconHandler FPrevShell;
};

class FormMainNoShellTest : public FormMainTrayTest {
protected:
  FormMainNoShellTest() { ShellRunningAtStart = false; }
};

} // namespace

TEST_F(FormMainTrayTest, TaskbarCreatedWhileTheShellHasTheIconKeepsItCurrent) {
  TTrayIcon& tray = Form->TrayIcon();
  ASSERT_TRUE(Shell.HasIcon);
  EXPECT_EQ(Shell.Calls.front().Icon, tray.Image(1)); // grey while waiting
  // The images are the small-icon size of this system.
  const auto width = [](HICON Icon) {
    ICONINFO info{};
    if (!GetIconInfo(Icon, &info)) return 0L;
    BITMAP bm{};
    GetObjectW(info.hbmColor, sizeof bm, &bm);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bm.bmWidth;
  };
  EXPECT_EQ(width(tray.Image(0)), GetSystemMetrics(SM_CXSMICON));

  // A DPI change or a remote session: "TaskbarCreated" with the icon still
  // there. The add is refused; a modify brings image and tip up to date.
  const size_t before = Shell.Calls.size();
  SendMessageW(tray.Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  ASSERT_GE(Shell.Calls.size(), before + 2);
  EXPECT_EQ(Shell.Calls[before].Message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(Shell.Calls[before + 1].Message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(Shell.Calls[before + 1].Icon, tray.Image(1));
  EXPECT_EQ(Shell.Calls[before + 1].Tip, Product);
  EXPECT_TRUE(tray.Shown());
  EXPECT_FALSE(tray.Retrying());
  EnableHotKeys();
  EXPECT_EQ(Shell.Calls.back().Message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(Shell.Calls.back().Icon, tray.Image(0));
  Form->pmiHotKeyEnabledClick(); // off again: the icon must turn grey
  EXPECT_EQ(Shell.Calls.back().Message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(Shell.Calls.back().Icon, tray.Image(1));

  // The screen's scale changes while the program runs: the icons come again
  // at the size the notification area now uses, where Windows can tell it.
  using TMetricsForDpi = int(WINAPI*)(int, UINT);
  if (const auto metricsForDpi = reinterpret_cast<TMetricsForDpi>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")))) {
    RECT suggested{0, 0, 10, 10};
    SendMessageW(tray.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(width(tray.Image(0)), metricsForDpi(SM_CXSMICON, 144));
    EXPECT_EQ(width(tray.Image(1)), metricsForDpi(SM_CXSMICON, 144));
    EXPECT_EQ(Shell.Calls.back().Icon, tray.Image(1));
  }

  // Exit removes it.
  Form.reset();
  EXPECT_EQ(Shell.Calls.back().Message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_FALSE(Shell.HasIcon);
}

TEST_F(FormMainNoShellTest, RefusedFirstAddIsRetriedForAMinute) {
  TTrayIcon& tray = Form->TrayIcon();
  EXPECT_FALSE(tray.Shown());
  EXPECT_TRUE(tray.Retrying());
  EnableHotKeys(); // meanwhile hot-key control goes on: the add must carry red

  // The shell comes up: a retry (every 2 s) adds the icon as it is now.
  Shell.Running = true;
  PumpUntil([&] { return Shell.HasIcon; }, 20000);
  ASSERT_TRUE(Shell.HasIcon);
  EXPECT_TRUE(tray.Shown());
  EXPECT_FALSE(tray.Retrying());
  const auto added = std::find_if(Shell.Calls.rbegin(), Shell.Calls.rend(),
                                  [](const TFakeShell::TCall& c) { return c.Message == NIM_ADD; });
  EXPECT_EQ(added->Icon, tray.Image(0));
  EXPECT_EQ(added->Tip, Product);

  // A shell that never comes: the retries stop after a minute's worth.
  Shell.Running = false;
  Shell.HasIcon = false;
  SendMessageW(tray.Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(tray.Retrying());
  const int addsBefore = Shell.Count(NIM_ADD);
  for (int i = 0; i < TTrayIcon::KRetryCount + 5; ++i)
    SendMessageW(tray.Handle(), WM_TIMER, TTrayIcon::KRetryTimerId, 0);
  EXPECT_EQ(Shell.Count(NIM_ADD) - addsBefore, TTrayIcon::KRetryCount);
  EXPECT_FALSE(tray.Retrying());

  // Exit still asks the shell to delete it.
  Form.reset();
  EXPECT_EQ(Shell.Calls.back().Message, static_cast<DWORD>(NIM_DELETE));
}

namespace {
bool GMenuSeen = false;
bool GMenuAllGrey = false;
HMENU GMenu = nullptr;
void CALLBACK CloseMenuSoon(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  GMenuSeen = FindWindowW(L"#32768", nullptr) != nullptr;
  GMenuAllGrey = true;
  for (int i = 0; i < GetMenuItemCount(GMenu); ++i)
    GMenuAllGrey = GMenuAllGrey && (GetMenuState(GMenu, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED);
  EndMenu();
}
} // namespace

TEST_F(FormMainTest, ContextMenuOpensGreyWhileADialogIsOpen) {
  GMenu = Form->PopupMenu();
  GMenuSeen = GMenuAllGrey = false;
  Form->SetFormShowFlg(true);
  SetTimer(nullptr, 0, 300, &CloseMenuSoon);
  Form->TrayIcon().Notify(Form->TrayIcon().ContextMenuNotification());
  EXPECT_TRUE(GMenuSeen);
  EXPECT_TRUE(GMenuAllGrey);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_TRUE(Form->FormShowFlg()); // closing the menu chose nothing
}

namespace {
using TCalls = std::vector<std::string>;
using RK = TRemoteCommandKind;
using RA = TRemoteAnswer;
} // namespace

TEST_F(FormMainTest, RemoteCommandsActLikeTheirHotKeysWithoutBoxesOnceStarted) {
  Form->EnvSettings()->SetHotKeyEnableOnAppStart(false);
  // Before the deferred start-up the port is not open yet: ask again later.
  TRemoteStatus status;
  EXPECT_EQ(Form->GetRemoteStatus(status), RA::Starting);
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Input, 2}), RA::Starting);
  Form->tmrStartupProcessTimer();
  EXPECT_EQ(Device.Calls, (TCalls{"port COM5", "C"}));
  Device.Calls.clear();
  // Until the switcher has answered the status request, toggles and the
  // power-up rule would go from a state nobody reported: ask again shortly.
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Power, KRemoteToggle}), RA::Starting);
  Form->DoProcess_RcvPowerStat(false);
  Form->DoProcess_RcvBlackoutStat(false);
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Power, KRemoteToggle}), RA::Starting);
  Form->DoProcess_RcvSelectChannel(1); // the input comes last in the reply
  EXPECT_TRUE(Device.Calls.empty());
  // A close of the port under way serves other processes' messages: busy.
  Device.ClosingNow = true;
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Input, 3}), RA::Busy);
  Device.ClosingNow = false;
  EXPECT_TRUE(Device.Calls.empty());

  // Hot-key control off and power reported off: the power-up rule, then the
  // command; a second one at once (there is no suppression window).
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Input, 3}), RA::Done);
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Blackout, KRemoteToggle}), RA::Done);
  EXPECT_EQ(Device.Calls, (TCalls{"W1", "S3", "W1", "B1"}));
  EXPECT_FALSE(Form->HotKeyIntervalEnabled());
  Form->DoProcess_RcvPowerStat(true);
  Form->DoProcess_RcvBlackoutStat(true);
  Form->DoProcess_RcvSelectChannel(3);
  Device.Calls.clear();
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Blackout, KRemoteToggle}), RA::Done);
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Blackout, KRemoteOn}), RA::Done);
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Power, KRemoteOff}), RA::Done);
  EXPECT_EQ(Device.Calls, (TCalls{"B0", "B1", "W0"}));
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Status, 0}), RA::NotUnderstood); // the status is asked for apart

  // Switching hot-key control asks nothing; a key that cannot be registered
  // is told by the answer, not in a box.
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::HotKey, KRemoteOn}), RA::Done);
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_EQ(Form->TrayIcon().ImageIndex(), 0);
  EXPECT_EQ(WindowText(Form->Control(TFormMain::IDC_LBL_HOTKEYENABLEDSTAT)), L"有効");
  EXPECT_EQ(Form->GetRemoteStatus(status), RA::Done);
  EXPECT_EQ(status, (TRemoteStatus{true, true, 3, true, L"COM5"}));
  (*Form->HotKeyInfoList())[3].SetHotKey((*Form->HotKeyInfoList())[2].HotKey());
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::HotKey, KRemoteOn}), RA::NotDone);
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_TRUE(Boxes.empty());

  // A port that cannot be opened is answered, not shown.
  Device.PowerResult = false;
  Device.Calls.clear();
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Power, KRemoteOn}), RA::NotDone);
  EXPECT_EQ(Device.Calls, TCalls{"W1"});
  EXPECT_TRUE(Boxes.empty());

  // Busy while a dialog or any box of the program is open: nothing is sent.
  Device.Calls.clear();
  Form->SetFormShowFlg(true);
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Input, 1}), RA::Busy);
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Exit, 0}), RA::Busy);
  EXPECT_FALSE(App->Terminated());
  EXPECT_EQ(Form->GetRemoteStatus(status), RA::Done); // reading the state is harmless
  Form->SetFormShowFlg(false);
  RA inBox = RA::NotUnderstood;
  WhileBoxOpen = [&] { inBox = Form->DoProcess_RemoteCommand({RK::HotKey, KRemoteOff}); };
  Press(0); // the power key's port error box
  WhileBoxOpen = nullptr;
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(inBox, RA::Busy);
  EXPECT_EQ(Device.Calls, TCalls{"W0"});
  EXPECT_TRUE(Form->HotKeyEnabled());
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::HotKey, KRemoteOff}), RA::Done);
  EXPECT_FALSE(Form->HotKeyEnabled());

  // /exit ends like 終了(&X), power-down included; the port still fails, and no box says so.
  Form->EnvSettings()->SetPowerDownOffAppStart(true);
  Device.Calls.clear();
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Exit, 0}), RA::Done);
  EXPECT_EQ(Device.Calls, TCalls{"W0"});
  EXPECT_TRUE(App->Terminated());
  EXPECT_FALSE(Form->QueryEndSession());
  // A settings file another program holds then goes to the log: a box would hold the end.
  Form->EnvSettings()->Save();
  const size_t logged = kavtest::ReadUtf8File(LogFile).size();
  const THeldFile held(SettingsIniFile);
  Form.reset();
  EXPECT_EQ(Boxes.size(), 1u); // the power key's, above
  EXPECT_NE(kavtest::ReadUtf8File(LogFile).find(L" " + SettingsIniFile + L" に書き込めません\r\n", logged), std::wstring::npos);
}

TEST_F(FormMainTest, WithoutAStatusReplyCommandsWaitAtMostASecondAndNotAtAllAfterAFailedStart) {
  Form->tmrStartupProcessTimer();
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Input, 1}), RA::Starting);
  const DWORD start = GetTickCount();
  RA answer = RA::Starting;
  EXPECT_TRUE(PumpUntil([&] { return (answer = Form->DoProcess_RemoteCommand({RK::Input, 5})) != RA::Starting; }, 5000));
  EXPECT_LT(GetTickCount() - start, TFormMain::KStartupStatusWaitMs + 1000);
  EXPECT_EQ(answer, RA::Done);
  EXPECT_EQ(Device.Calls, (TCalls{"port COM5", "C", "W1", "S5"})); // nothing reported: the power-up rule

  // A start whose port failed waits for nothing; its one box said so.
  Form.reset();
  Form = std::make_unique<TFormMain>(*App);
  Form->SetComPortModule(&Device);
  Device.Calls.clear();
  Device.StatusResult = false;
  Device.FrameResult = false;
  Form->tmrStartupProcessTimer();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, PortError);
  EXPECT_EQ(Form->DoProcess_RemoteCommand({RK::Input, 4}), RA::NotDone);
}

TEST_F(FormMainTest, APortInUseByAnotherAccountShowsNoBoxAtStartUpButOneOnAKey) {
  // Another signed-in account's instance has the port: nobody here asked for
  // it yet, so the start-up only notes it in the log.
  Device.PowerResult = Device.FrameResult = Device.StatusResult = false;
  Device.InUseElsewhere = true;
  Form->tmrStartupProcessTimer();
  EXPECT_EQ(Device.Calls, (TCalls{"port COM5", "C"}));
  EXPECT_TRUE(Boxes.empty());
  EXPECT_NE(kavtest::ReadUtf8File(LogFile).find(L" COM5は別のセッションで使用中のため、開きませんでした\r\n"),
            std::wstring::npos);
  EXPECT_TRUE(Form->HotKeyEnabled());
  // A key pressed here is the person's own request: the usual box.
  Press(2);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, PortError);
}

TEST(FormMainHousekeeping, StartUpGoesOnWhenTheLogCannotBeWritten) {
  // A file where the log folder belongs: every log line of this run fails.
  wchar_t logFolder[MAX_PATH] = {};
  ExpandEnvironmentStringsW(L"%ProgramData%\\KOVA\\KAV90R_HotKeyController\\Log", logFolder, MAX_PATH);
  const std::wstring folder = logFolder;
  const std::wstring kept = folder + L".kept-by-test";
  const bool hadFolder = MoveFileW(folder.c_str(), kept.c_str()) != FALSE;
  HANDLE blocker = CreateFileW(folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
  CloseHandle(blocker);

  TFakeDevice device;
  {
    TBoxRecorder boxes;
    TApplication app(GetModuleHandleW(nullptr));
    TFormMain form(app);
    EXPECT_TRUE(form.FormCreated());
    EXPECT_TRUE(form.StartupTimerEnabled());
    form.SetComPortModule(&device);
    form.EnvSettings()->SetComPort(L"COM5");
    form.EnvSettings()->SetHotKeyEnableOnAppStart(true);
    form.EnvSettings()->SetWindowVisible(false);
    form.tmrStartupProcessTimer(); // its "起動" line is lost too; nothing else is
    EXPECT_TRUE(form.HotKeyEnabled());
    EXPECT_EQ(device.Calls, (std::vector<std::string>{"port COM5", "C"}));
    // The application handler is in place: an access violation would be shown.
    EXPECT_TRUE(boxes.Boxes.empty());
  }
  DropQuitMessages();
  DeleteFileW(folder.c_str());
  if (hadFolder) MoveFileW(kept.c_str(), folder.c_str());
}
