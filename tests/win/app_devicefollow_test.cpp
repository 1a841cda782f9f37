// The status window follows the switcher's adapter and the PC's sleep, with
// the real device link against the simulator: device and power notices built
// as Windows builds them, sent to the window as Windows sends them.
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/win/Application.h"
#include "app/win/ComPortDevice.h"
#include "app/win/DeviceNotice.h"
#include "app/win/frmMain.h"
#include "common/win/WindowText.h"
#include "device/win/dmComPort.h"
#include "settings/win/clsEnvSettings.h"
#include "tests/win/support/Av90RSimulator.h"
#include "tests/win/support/BoxRecorder.h"
#include "tests/win/support/DeviceNotices.h"
#include "tests/win/support/FakeEnvSettingsForm.h"
#include "tests/win/support/MessagePump.h"

using namespace kav;
using namespace kavtest;

namespace {

constexpr int kCom = 43;
using Strings = std::vector<std::string>;

// The system's list of serial ports, with COM<kCom> put in or taken out
// (Wine lists only the ports it made itself).
class TSerialCommEntry {
public:
  TSerialCommEntry() {
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                    KEY_SET_VALUE, nullptr, &FKey, nullptr);
  }
  ~TSerialCommEntry() {
    Set(false);
    if (FKey) RegCloseKey(FKey);
  }
  bool Set(bool Listed) {
    if (Listed) {
      const std::wstring port = L"COM" + std::to_wstring(kCom);
      return RegSetValueExW(FKey, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                            static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    RegDeleteValueW(FKey, kValue);
    return true;
  }

private:
  static constexpr const wchar_t* kValue = L"\\Device\\KavFollowTest";
  HKEY FKey = nullptr;
};

class DeviceFollowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Sim = std::make_unique<TAv90RSimulator>(KAV_SIMULATOR, kCom, "--power 1 --blackout 1 --input 5");
    App = std::make_unique<TApplication>(GetModuleHandleW(nullptr));
    Form = std::make_unique<TFormMain>(*App);
    ASSERT_TRUE(Form->FormCreated());
    // The tests run the deferred start-up themselves, when they want it.
    KillTimer(Form->Handle(), TFormMain::TMR_STARTUPPROCESS);
    Mod = std::make_unique<TmodComPort>(Form.get());
    Device = std::make_unique<TComPortDevice>(*Mod);
    Form->SetComPortModule(Device.get());
    // The settings dialog's closing question is answered No (the recorder's answer).
    Dialog.Host = Form.get();
    Dialog.Owner = Form->Handle();
    Form->SetEnvSettingsForm(&Dialog);
    TEnvSettings& s = *Form->EnvSettings();
    s.SetComPort(Sim->Port());
    s.SetPowerUpOnAppStart(false);
    s.SetPowerDownOffAppStart(false);
    s.SetHotKeyEnableOnAppStart(false);
    s.SetPowerUpOnHotKeyCtrl(true);
    s.SetWindowVisible(false);
  }
  void TearDown() override {
    Form->SetComPortModule(nullptr);
    Device.reset();
    Mod.reset();
    Form.reset();
    App.reset();
    Sim.reset();
    DropQuitMessages();
  }

  // The deferred start-up, run now: the status request and its reply.
  void StartUp() {
    Form->tmrStartupProcessTimer();
    ASSERT_TRUE(PumpUntil([&] { return Label(TFormMain::IDC_LBL_SELCHANNELSTAT) == L"5"; }, 5000));
    ASSERT_TRUE(Mod->ComPort().Connected());
    Sim->Command("clear");
  }
  void Notify(WPARAM Event, std::vector<BYTE> Notice) {
    SendMessageW(Form->Handle(), WM_DEVICECHANGE, Event, reinterpret_cast<LPARAM>(Notice.data()));
  }
  void Power(WPARAM Event) { SendMessageW(Form->Handle(), WM_POWERBROADCAST, Event, 0); }
  std::wstring Label(int Id) { return WindowText(Form->Control(Id)); }
  // Waits past the burst window, then reports whether the refresh timer still ran.
  bool RefreshTimerLeftRunning() {
    PumpFor(TFormMain::KLinkRefreshDelayMs * 3);
    return Form->LinkRefreshPending() || KillTimer(Form->Handle(), TFormMain::TMR_LINKREFRESH);
  }

  std::unique_ptr<TAv90RSimulator> Sim;
  std::unique_ptr<TApplication> App;
  std::unique_ptr<TFormMain> Form;
  std::unique_ptr<TmodComPort> Mod;
  std::unique_ptr<TComPortDevice> Device;
  TFakeEnvSettingsForm Dialog;
  TBoxRecorder Recorder{IDNO};
};

} // namespace

TEST_F(DeviceFollowTest, RemovalClosesAndTheStoredPortsReturnBringsOneStatusRequest) {
  // The system lists the port while it is there, as Windows does.
  TSerialCommEntry list;
  ASSERT_TRUE(list.Set(true));
  StartUp();
  const std::wstring com = L"COM" + std::to_wstring(kCom);

  // Another port goes: ours stays open.
  Notify(DBT_DEVICEREMOVECOMPLETE, PortNotice(L"COM3"));
  EXPECT_TRUE(Mod->ComPort().Connected());
  // Ours goes (the device-namespace form, in other letters): closed at once, silently.
  Sim->Command("vanish");
  Notify(DBT_DEVICEREMOVECOMPLETE, PortNotice(L"\\\\.\\com" + std::to_wstring(kCom)));
  EXPECT_FALSE(Mod->ComPort().Connected());
  EXPECT_FALSE(Form->LinkRefreshPending());

  // It comes back in another state; Windows announces it more than once.
  Sim->Command("set blackout 0");
  Sim->Command("set input 4");
  Sim->Command("return");
  const uint32_t opens = Mod->ComPort().OpenCount();
  Notify(DBT_DEVICEARRIVAL, PortNotice(com));
  Notify(DBT_DEVICEARRIVAL, PortNotice(com));
  Notify(DBT_DEVICEARRIVAL, InterfaceNotice(kComPortClass));
  EXPECT_TRUE(Form->LinkRefreshPending());
  EXPECT_FALSE(Mod->ComPort().Connected()); // nothing before the burst is over
  ASSERT_TRUE(PumpUntil([&] { return Label(TFormMain::IDC_LBL_SELCHANNELSTAT) == L"4"; }, 5000));
  EXPECT_EQ(Label(TFormMain::IDC_LBL_BLACKOUTSTAT), L"OFF");
  EXPECT_EQ(Label(TFormMain::IDC_LBL_POWERSTAT), L"ON");
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_EQ(Sim->Frames(), (Strings{"C"}));
  EXPECT_EQ(Mod->ComPort().OpenCount(), opens + 1);
  EXPECT_TRUE(Recorder.Boxes.empty());

  // Another port arrives: nothing.
  Sim->Command("clear");
  Notify(DBT_DEVICEARRIVAL, PortNotice(L"COM4"));
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_TRUE(Sim->Frames().empty());

  // Notices that do not hold together change nothing and break nothing.
  SendMessageW(Form->Handle(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
  std::vector<BYTE> shortNotice = PortNotice(com);
  reinterpret_cast<DEV_BROADCAST_HDR*>(shortNotice.data())->dbch_size = offsetof(DEV_BROADCAST_PORT_W, dbcp_name);
  Notify(DBT_DEVICEREMOVECOMPLETE, shortNotice);
  std::vector<BYTE> tinyNotice = PortNotice(com);
  reinterpret_cast<DEV_BROADCAST_HDR*>(tinyNotice.data())->dbch_size = 4;
  Notify(DBT_DEVICEREMOVECOMPLETE, tinyNotice);
  // A name cut by its stated size is not ours ("COM4" of "COM43").
  std::vector<BYTE> cutNotice = PortNotice(com);
  reinterpret_cast<DEV_BROADCAST_HDR*>(cutNotice.data())->dbch_size =
      static_cast<DWORD>(offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + 4 * sizeof(wchar_t));
  Notify(DBT_DEVICEREMOVECOMPLETE, cutNotice);
  Notify(DBT_DEVICEQUERYREMOVE, PortNotice(com));
  EXPECT_TRUE(Mod->ComPort().Connected());
  EXPECT_EQ(SendMessageW(Form->Handle(), WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE,
                         reinterpret_cast<LPARAM>(PortNotice(com).data())),
            TRUE); // never vetoes
}

TEST_F(DeviceFollowTest, EachResumeReopensAndAsksOnceWithoutThePowerUpRule) {
  StartUp();
  EXPECT_TRUE(Form->ComInterfaceNotification());
  // The last report said power off: a status request is no hot-key action, so no W1.
  Form->DoProcess_RcvPowerStat(false);
  Sim->Command("set input 2");
  uint32_t opens = Mod->ComPort().OpenCount();
  Power(PBT_APMSUSPEND);
  Power(PBT_APMRESUMEAUTOMATIC);
  Power(PBT_APMRESUMESUSPEND);
  ASSERT_TRUE(PumpUntil([&] { return Label(TFormMain::IDC_LBL_SELCHANNELSTAT) == L"2"; }, 5000));
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_EQ(Sim->Frames(), (Strings{"C"}));
  EXPECT_EQ(Mod->ComPort().OpenCount(), opens + 1); // a fresh handle, not the one that slept
  EXPECT_FALSE(Form->HotKeyIntervalEnabled());      // the next key press is not held back

  // The next resume, soon after, asks again; so does a lone person notice.
  Sim->Command("clear");
  Power(PBT_APMRESUMEAUTOMATIC);
  EXPECT_FALSE(RefreshTimerLeftRunning());
  Power(PBT_APMRESUMESUSPEND); // the second half of that pair
  EXPECT_FALSE(RefreshTimerLeftRunning());
  Power(PBT_APMSUSPEND);
  Power(PBT_APMRESUMESUSPEND);
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_EQ(Sim->Frames(), (Strings{"C", "C"}));

  // Woken without the switcher's adapter: no box, the link stays closed.
  Sim->Command("vanish");
  Power(PBT_APMSUSPEND);
  Power(PBT_APMRESUMEAUTOMATIC);
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_FALSE(Mod->ComPort().Connected());
  EXPECT_TRUE(Recorder.Boxes.empty());
  // A query to suspend is never refused.
  EXPECT_EQ(SendMessageW(Form->Handle(), WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), TRUE);
}

TEST_F(DeviceFollowTest, InterfaceNoticesCountByWhetherTheStoredPortExists) {
  TSerialCommEntry list;
  StartUp();
  const std::wstring com = L"COM" + std::to_wstring(kCom);
  ASSERT_TRUE(list.Set(true));
  EXPECT_TRUE(SerialPortPresent(com));
  EXPECT_TRUE(SerialPortPresent(L"\\\\.\\com" + std::to_wstring(kCom)));
  EXPECT_FALSE(SerialPortPresent(L"COM199"));
  EXPECT_FALSE(SerialPortPresent(L""));

  // Some serial interface goes while ours is still there: the link stays.
  Notify(DBT_DEVICEREMOVECOMPLETE, InterfaceNotice(kComPortClass));
  EXPECT_TRUE(Mod->ComPort().Connected());
  // One arrives while the link is open: nothing to do.
  Notify(DBT_DEVICEARRIVAL, InterfaceNotice(kComPortClass));
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_TRUE(Sim->Frames().empty());

  // Ours goes: its interface notice closes the link.
  ASSERT_TRUE(list.Set(false));
  EXPECT_FALSE(SerialPortPresent(com));
  Notify(DBT_DEVICEREMOVECOMPLETE, InterfaceNotice(kUsbDeviceClass)); // not a serial port: ignored
  EXPECT_TRUE(Mod->ComPort().Connected());
  Notify(DBT_DEVICEREMOVECOMPLETE, InterfaceNotice(kComPortClass));
  EXPECT_FALSE(Mod->ComPort().Connected());
  // Another interface arrives, ours is still missing: nothing.
  Notify(DBT_DEVICEARRIVAL, InterfaceNotice(kComPortClass));
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_FALSE(Mod->ComPort().Connected());
  // Ours is back by the time the burst is over: open and ask once.
  Sim->Command("set input 7");
  Notify(DBT_DEVICEARRIVAL, InterfaceNotice(kComPortClass));
  ASSERT_TRUE(list.Set(true));
  ASSERT_TRUE(PumpUntil([&] { return Label(TFormMain::IDC_LBL_SELCHANNELSTAT) == L"7"; }, 5000));
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_EQ(Sim->Frames(), (Strings{"C"}));

  // Some drivers name the device, not the port: such a port notice may be
  // ours and counts the same way, by what is present now.
  Sim->Command("clear");
  Notify(DBT_DEVICEREMOVECOMPLETE, PortNotice(L"USB Serial Port"));
  EXPECT_TRUE(Mod->ComPort().Connected());
  ASSERT_TRUE(list.Set(false));
  Notify(DBT_DEVICEREMOVECOMPLETE, PortNotice(L"USB Serial Port"));
  EXPECT_FALSE(Mod->ComPort().Connected());
  Sim->Command("set input 3");
  ASSERT_TRUE(list.Set(true));
  Notify(DBT_DEVICEARRIVAL, PortNotice(L"USB Serial Port"));
  ASSERT_TRUE(PumpUntil([&] { return Label(TFormMain::IDC_LBL_SELCHANNELSTAT) == L"3"; }, 5000));
  EXPECT_EQ(Sim->Frames(), (Strings{"C"}));
  EXPECT_TRUE(Recorder.Boxes.empty());
}

TEST_F(DeviceFollowTest, NothingBeforeTheStartUpWhileTheSettingsDialogIsOpenOrWithoutAPort) {
  const std::wstring com = L"COM" + std::to_wstring(kCom);
  // Before the deferred start-up: the link is not ours to open yet.
  Notify(DBT_DEVICEARRIVAL, PortNotice(com));
  Power(PBT_APMRESUMEAUTOMATIC);
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_TRUE(Sim->Frames().empty());
  EXPECT_FALSE(Mod->ComPort().Connected());

  StartUp();
  // A refresh already on its way when the dialog opens is dropped, and
  // nothing the dialog's time brings acts on the link.
  Notify(DBT_DEVICEARRIVAL, PortNotice(com));
  bool openMeanwhile = false;
  Dialog.WhileOpen = [&] {
    Notify(DBT_DEVICEREMOVECOMPLETE, PortNotice(com));
    Notify(DBT_DEVICEARRIVAL, PortNotice(com));
    Power(PBT_APMRESUMEAUTOMATIC);
    PumpFor(TFormMain::KLinkRefreshDelayMs * 3);
    openMeanwhile = Mod->ComPort().Connected();
  };
  const uint32_t opens = Mod->ComPort().OpenCount();
  Form->pmiEnvSettingClick();
  EXPECT_TRUE(openMeanwhile);
  EXPECT_EQ(Mod->ComPort().OpenCount(), opens);
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_TRUE(Sim->Frames().empty()); // nor a request once it has closed
  EXPECT_EQ(Mod->ComPort().Port(), com);
  EXPECT_EQ(Recorder.Boxes.size(), 1u); // the dialog's closing question only

  // Without a stored port nothing follows.
  Form->EnvSettings()->SetComPort(L"");
  Notify(DBT_DEVICEREMOVECOMPLETE, PortNotice(com));
  EXPECT_TRUE(Mod->ComPort().Connected());
  Power(PBT_APMRESUMEAUTOMATIC);
  Notify(DBT_DEVICEARRIVAL, PortNotice(com));
  EXPECT_FALSE(RefreshTimerLeftRunning());
  EXPECT_TRUE(Sim->Frames().empty());
}
