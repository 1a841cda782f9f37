// The status window wired to the real device link and the switcher
// simulator: the deferred start-up's frames, the labels from the replies, a
// hot key's frame on the wire, power-down at exit.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/win/Application.h"
#include "app/win/ComPortDevice.h"
#include "app/win/frmMain.h"
#include "common/win/WindowText.h"
#include "device/win/dmComPort.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "settings/win/clsEnvSettings.h"
#include "tests/win/support/Av90RSimulator.h"
#include "tests/win/support/BoxRecorder.h"
#include "tests/win/support/HotKeyTable.h"
#include "tests/win/support/MessagePump.h"

using namespace kav;
using namespace kavtest;

namespace {

constexpr int kCom = 41;
using Strings = std::vector<std::string>;

} // namespace

TEST(AppDeviceLink, StartupHotKeysAndExitAgainstTheSimulator) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 0 --blackout 0 --input 3");
  TBoxRecorder boxes;
  {
    TApplication app(GetModuleHandleW(nullptr));
    TFormMain form(app);
    ASSERT_TRUE(form.FormCreated());
    TmodComPort mod(&form);
    TComPortDevice device(mod);
    form.SetComPortModule(&device);

    THotKeyInfoList& list = *form.HotKeyInfoList();
    list.DoProcess_UnregisterHotKey();
    list.Clear();
    AddDefaultHotKeys(list);
    TEnvSettings& s = *form.EnvSettings();
    s.SetComPort(sim.Port());
    s.SetPowerUpOnAppStart(true);
    s.SetPowerDownOffAppStart(true);
    s.SetHotKeyEnableOnAppStart(true);
    s.SetWindowVisible(false);

    // The start-up timer's own tick, about a second after creation.
    ASSERT_TRUE(PumpUntil([&] { return !form.StartupTimerEnabled(); }, 5000));
    ASSERT_TRUE(PumpUntil([&] { return WindowText(form.Control(TFormMain::IDC_LBL_SELCHANNELSTAT)) == L"3"; }, 3000));
    EXPECT_EQ(sim.Frames(), (Strings{"W1", "C"}));
    EXPECT_EQ(WindowText(form.Control(TFormMain::IDC_LBL_POWERSTAT)), L"ON");
    EXPECT_EQ(WindowText(form.Control(TFormMain::IDC_LBL_BLACKOUTSTAT)), L"OFF");
    EXPECT_TRUE(form.HotKeyEnabled());
    EXPECT_EQ(boxes.Boxes.size(), 0u);

    // Ctrl+B: the switcher is on now, so only the blackout frame; its reply updates the label.
    sim.Command("clear");
    SendMessageW(form.Handle(), WM_HOTKEY, static_cast<WPARAM>(list[1].HotKeyID()), 0);
    ASSERT_TRUE(PumpUntil([&] { return WindowText(form.Control(TFormMain::IDC_LBL_BLACKOUTSTAT)) == L"ON"; }, 3000));
    EXPECT_EQ(sim.Frames(), (Strings{"B1"}));

    // A front-panel change arrives unasked and is shown as it comes.
    sim.Command("report s7");
    ASSERT_TRUE(PumpUntil([&] { return WindowText(form.Control(TFormMain::IDC_LBL_SELCHANNELSTAT)) == L"7"; }, 3000));
    EXPECT_EQ(form.Av90RStat().FSelChannel, 7);

    // Exit from the tray menu with power-down set.
    sim.Command("clear");
    form.pmiTerminateClick();
    EXPECT_EQ(sim.Frames(), (Strings{"W0"}));
    EXPECT_TRUE(app.Terminated());
    form.SetComPortModule(nullptr);
    DropQuitMessages();
  }
}
