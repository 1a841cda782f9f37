#pragma once
// The status window of the resident program (FormMain): owner of the hot-key
// table, the settings record and the switcher's last reported state; the
// two-stage start-up, hot-key dispatch, the tray icon and its menu, the
// dialog paths and shutdown.
//
// Windows of the running program, for the end-to-end probe:
//   class "TApplication"     hidden application window; title = product name
//                            ("KTX-AV90R制御ソフト"); owner of every window;
//                            extended style exactly WS_EX_TOOLWINDOW
//   class "TFormMain"        this status window; title = product name; owned
//                            by the application window. STATIC children:
//                              101 lblHotKeyEnabled      "ホットキー制御　・・・"
//                              102 lblHotKeyEnabledStat  "有効" / "無効"
//                              103 lblPower              "KTX-AV90R電源　・・・"
//                              104 lblPowerStat          "ON" / "OFF"
//                              105 lblBlackout           "ブラックアウト　・・・"
//                              106 lblBlackoutStat       "ON" / "OFF"
//                              107 lblSelChannel         "選択中の入力ソース　・・・"
//                              108 lblSelChannelStat     input number ("1" at start)
//   class "TTrayIconWindow"  hidden message window of the tray icon (icon id 1,
//                            callback message WM_APP + 0x101); owner of the
//                            popup menu (class "#32768") while it is open.
//                            Menu command ids: 201 "ホットキー制御(&H)" (checked
//                            while hot-key control is on), 203 "環境設定(&S)...",
//                            205 "ウィンドウ表示(&W)", 206 "バージョン情報(&A)...",
//                            208 "終了(&X)"; separators 202, 204, 207.
//   class "TFormEnvSettings" the settings dialog (see settings/win/frmEnvSettings.h)
//   class of TFormAbout      the About dialog (see common/win/KCFL_FormAbout.h)
//   class "#32770"           message boxes (owner: status window, application
//                            window or a dialog, as each box needs)
#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/core/RemoteCommand.h"
#include "app/core/LinkRefresh.h"
#include "common/win/Handles.h"
#include "device/core/IAv90RStatusSink.h"
#include "device/core/clsAv90RStatus.h"
#include "settings/win/IEnvSettingsHost.h"

namespace kav {

class TApplication;
class TTrayIcon;
class THotKeyInfoList;
class TEnvSettings;
class TVersionInfo;
class IAv90RDevice;
class IEnvSettingsForm;

// The program's log wrapper: every log line of the resident program. Brings
// back a removed data folder (with its grant) first, then writes one event
// record and one log line. Throws when the log file cannot be written.
void WriteAppLog(const std::wstring& Text, int EventType);

// The program-wide version reader (null until the status window has read it)
// and the model name (InternalName, "KTX-AV90R").
const TVersionInfo* ProgramVersionInfo() noexcept;
const std::wstring& ProgramModelName() noexcept;

class TFormMain final : public IAv90RStatusSink, public IEnvSettingsHost, public IRemoteCommandTarget {
public:
  static const wchar_t KWindowClass[];

  enum : int {
    IDC_LBL_HOTKEYENABLED = 101,
    IDC_LBL_HOTKEYENABLEDSTAT = 102,
    IDC_LBL_POWER = 103,
    IDC_LBL_POWERSTAT = 104,
    IDC_LBL_BLACKOUT = 105,
    IDC_LBL_BLACKOUTSTAT = 106,
    IDC_LBL_SELCHANNEL = 107,
    IDC_LBL_SELCHANNELSTAT = 108,
  };
  enum : UINT {
    IDM_HOTKEYENABLED = 201,
    IDM_LINE1 = 202,
    IDM_ENVSETTING = 203,
    IDM_LINE2 = 204,
    IDM_WINDOWVISIBLE = 205,
    IDM_VERSION = 206,
    IDM_LINE3 = 207,
    IDM_TERMINATE = 208,
  };
  enum : UINT_PTR {
    TMR_STARTUPPROCESS = 1,  // tmrStartupProcess: one tick, 1000 ms after creation
    TMR_HOTKEYINTERVAL = 2,  // tmrHotKeyInterval: 1000 ms suppression after a press
    TMR_STARTUPSTATUS = 3,   // commands wait for the start-up's status reply, at most KStartupStatusWaitMs
    TMR_LINKREFRESH = 4,     // tmrLinkRefresh: one tick after a burst of device or resume notices
  };
  // How long a burst of device and resume notices may take to fold into one
  // status request.
  static constexpr UINT KLinkRefreshDelayMs = 300;

  // Creates the status window (hidden, owned by the application window) and
  // its tray icon, then runs FormCreate.
  explicit TFormMain(TApplication& App);
  // FormDestroy, then the window goes.
  ~TFormMain() override;
  TFormMain(const TFormMain&) = delete;
  TFormMain& operator=(const TFormMain&) = delete;

  // Objects created after the status window are handed over once they exist.
  void SetComPortModule(IAv90RDevice* Device) noexcept { FDevice = Device; }
  void SetEnvSettingsForm(IEnvSettingsForm* Form) noexcept { FEnvSettingsForm = Form; }
  // How the About dialog is shown (tests replace it; empty: the real dialog).
  void SetShowAboutFunc(std::function<void()> Func) { FShowAbout = std::move(Func); }
  // Called whenever a value the status window shows may have changed (the
  // network remote publishes its status snapshot there). Must not throw.
  void SetStatusChangedHandler(std::function<void()> Handler) { FOnStatusChanged = std::move(Handler); }

  // Reports of the device link (status sink).
  void DoProcess_RcvPowerStat(bool Stat) override;
  void DoProcess_RcvBlackoutStat(bool Stat) override;
  void DoProcess_RcvSelectChannel(int32_t Channel) override;

  // Asks whether to switch hot-key control over and does so on Yes. Handle =
  // the application window: top-most box titled with the product name;
  // another window (the settings dialog): box owned by it, titled "確認".
  void SelectHotKeyEnabled(HWND Handle) override;
  std::wstring ModelName() const override;

  // Commands from the command line (app/win/RemoteControl.h).
  // A command handed over by another start. Busy while a dialog, question or
  // message box of the program is open, or while the port is being closed;
  // Starting until the deferred start-up has run and the switcher has
  // answered its status request (or KStartupStatusWaitMs has passed), so that
  // toggles and the power-up rule go from the switcher's state; otherwise it
  // acts like its hot key, whether hot-key control is on or off and without
  // the suppression window, and shows nothing: NotDone stands for the port
  // error box. Exit ends the program as 終了(&X) does and answers Done.
  TRemoteAnswer DoProcess_RemoteCommand(const TRemoteCommand& Command) override;
  // The state the status line reports; Starting until the deferred start-up has begun.
  TRemoteAnswer GetRemoteStatus(TRemoteStatus& Status) const override;
  static constexpr UINT KStartupStatusWaitMs = 1000;

  // Event handlers, public so that tests can run them as the system would.
  void tmrStartupProcessTimer();
  void tmrHotKeyIntervalTimer();
  void tmrStartupStatusTimer();
  void tmrLinkRefreshTimer();
  void pmTrayIconPopup();
  void pmiHotKeyEnabledClick();
  void pmiEnvSettingClick();
  void pmiWindowVisibleClick();
  void pmiVersionClick();
  void pmiTerminateClick();
  // Nobody at the screen asked for this end (a session end, Restart Manager,
  // an installer, "/exit"): a settings write refused while the status window
  // goes is written to the log, not shown in a box that would hold the end.
  void SetUnattendedEnd() noexcept { FUnattendedEnd = true; }
  void JvTrayIconMouseDown();
  void JvTrayIconDblClick();
  // The application-wide exception handler: shows access violations and
  // invalid-pointer errors in the standard box and drops everything else.
  void ApplicationException(const std::exception_ptr& E);

  // State, for tests and the dialogs.
  HWND Handle() const noexcept { return FHandle; }
  bool FormShowFlg() const noexcept { return FFormShowFlg; }
  void SetFormShowFlg(bool Value) noexcept { FFormShowFlg = Value; }
  bool QueryEndSession() const noexcept { return FQueryEndSession; }
  // pmiHotKeyEnabled.Checked: the one record of whether hot-key control is on.
  bool HotKeyEnabled() const;
  THotKeyInfoList* HotKeyInfoList() const noexcept { return FHotKeyInfoList.get(); }
  TEnvSettings* EnvSettings() const noexcept { return FEnvSettings.get(); }
  const TAv90RStatus& Av90RStat() const noexcept { return FAv90RStat; }
  bool StartupTimerEnabled() const noexcept { return FStartupTimerEnabled; }
  bool HotKeyIntervalEnabled() const noexcept { return FHotKeyIntervalEnabled; }
  // A status request after device or resume notices is waiting for its tick.
  bool LinkRefreshPending() const noexcept { return FLinkRefresh.Pending() != TLinkRefresh::None; }
  // True when Windows takes serial-port interface notices for this window.
  bool ComInterfaceNotification() const noexcept { return FComInterfaceNotify.Valid(); }
  // True when FormCreate ran to its end.
  bool FormCreated() const noexcept { return FFormCreated; }
  HWND Control(int Id) const { return GetDlgItem(FHandle, Id); }
  HMENU PopupMenu() const noexcept { return FPopupMenu.Get(); }
  TTrayIcon& TrayIcon() const noexcept { return *FTrayIcon; }
  const std::wstring& ProductName() const noexcept { return FProductName; }

private:
  // The window as designed at 96 dpi (LayoutControls scales it to its DPI).
  static constexpr DWORD KFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  static constexpr DWORD KFormExStyle = WS_EX_WINDOWEDGE;
  static constexpr int KClientWidth = 214;
  static constexpr int KOuterHeight = 125;

  LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
  static LRESULT FailedAnswer(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
  // A debugger line (OutputDebugStringW) for what is not the user's business.
  static void Trace(const std::wstring& Text);

  void FormCreate();
  void FormShow();
  void FormCloseQuery(bool& CanClose);
  void FormDestroy();
  void DoProcess_Initialize();
  void DoProcess_InitWindow();
  void DoProcess_PlaceWindow();
  void DoProcess_ShowMainWindow(bool Force);
  void DoProcess_HotKeyAction(int Index);
  void SetHotKeyEnabled(bool Value);
  int ApplyHotKeyEnabled(bool Value, bool ReportFailures);
  void WMHotKey(WPARAM Id);
  LRESULT WMQueryEndSession();
  void WMClose();
  void WMDeviceChange(WPARAM Event, LPARAM Data);
  void WMPowerBroadcast(WPARAM Event);
  bool FollowsDevice() const;
  void ArmLinkRefresh(bool Newly);
  void CloseLink();

  void CreateControls();
  void CreatePopupMenu();
  void LayoutControls();
  // Where the placement rule puts the window at its current size.
  POINT PlacedOrigin() const;
  void WMDpiChanged(int Dpi, const RECT& Suggested);
  void ShowTrayMenu(POINT Pos);
  void DispatchMenuCommand(UINT Id);
  void ShowPortError();
  void ShowAboutDialog();
  void SetLabel(int Id, const std::wstring& Text);
  void EnableTimer(UINT_PTR Id, bool& Flag, bool Enable);
  IAv90RDevice& Device();

  TApplication& FApp;
  HWND FHandle = nullptr;

  // Fields of the status window.
  std::unique_ptr<THotKeyInfoList> FHotKeyInfoList;
  std::unique_ptr<TEnvSettings> FEnvSettings;
  TAv90RStatus FAv90RStat;
  bool FFormShowFlg = false;
  bool FQueryEndSession = false;
  bool FSessionEnding = false; // inside WM_QUERYENDSESSION or "/exit": no boxes
  bool FUnattendedEnd = false;

  // Components.
  std::unique_ptr<TTrayIcon> FTrayIcon;
  TMenuHandle FPopupMenu;
  TFontHandle FFont;
  TFontHandle FBoldFont;
  int FDpi = 96;
  bool FStartupTimerEnabled = false;
  bool FHotKeyIntervalEnabled = false;
  // Following the adapter and the PC's sleep.
  TDevNotifyHandle FComInterfaceNotify;
  TLinkRefreshPlan FLinkRefresh;
  bool FStartupCommandsSent = false; // the deferred start-up has sent its commands (or had no port)
  bool FEnvSettingsOpen = false;     // the settings dialog is open: the link is its business
  bool FClosingPort = false;         // CloseLink is under way

  IAv90RDevice* FDevice = nullptr;
  IEnvSettingsForm* FEnvSettingsForm = nullptr;
  std::function<void()> FShowAbout;
  std::function<void()> FOnStatusChanged;
  std::wstring FProductName;
  // Remote commands: where the deferred start-up is, and a command being
  // carried out (a nested one is refused).
  enum class TStartupState { Waiting, Running, Done };
  TStartupState FStartupState = TStartupState::Waiting;
  bool FStartupStatusTimerEnabled = false;
  bool FRemoteCommandRunning = false;
  int FInitStep = 0;        // step of DoProcess_Initialize reached
  bool FFormCreated = false;
  bool FHandlerInstalled = false;
};

} // namespace kav
