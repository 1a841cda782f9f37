// The status window: creation and destruction, its window procedure,
// closing and the session's end, and the deferred start-up.
#include "app/win/frmMain.h"

#include <dbt.h>

#include "app/core/AppExceptions.h"
#include "app/core/AppTexts.h"
#include "app/core/HotKeyDispatch.h"
#include "app/core/IAv90RDevice.h"
#include "app/win/Application.h"
#include "app/win/DeviceNotice.h"
#include "app/win/ExceptionLogger.h"
#include "app/win/TrayIcon.h"
#include "common/core/ScopeExit.h"
#include "common/core/ScopedFlag.h"
#include "common/win/CallbackGuard.h"
#include "common/win/IniFile.h"
#include "common/win/KCFL_FormScaling.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_EventLog.h"
#include "common/win/KCL_FileOperation.h"
#include "common/win/KCL_IniFileFunc.h"
#include "common/win/KCL_NetworkFunc.h"
#include "common/win/KCL_RegistryFunc.h"
#include "common/win/KCL_VersionInfo.h"
#include "common/win/MessageBoxSeam.h"
#include "common/win/WindowBinding.h"
#include "common/win/WindowClass.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "resources/resource.h"
#include "settings/win/clsEnvSettings.h"

namespace kav {

namespace {

std::unique_ptr<TVersionInfo> GVersionInfo;
std::wstring GModelName;

constexpr int KEventInfo = 4;

// Stands in for the device link until it exists: every command fails, so a
// hot key pressed that early shows the port error like a missing port would.
class TNoDevice final : public IAv90RDevice {
public:
  void SetComPort(const std::wstring&) override {}
  bool ExecPowerCtrl(bool) override { return false; }
  bool ExecBlackout(bool) override { return false; }
  bool SelectChannel(int32_t) override { return false; }
  bool SendRequestStatus() override { return false; }
  bool TestComPort(const std::wstring&) override { return false; }
  void ClosePort() override {}
  bool Connected() const override { return false; }
};

} // namespace

const wchar_t TFormMain::KWindowClass[] = L"TFormMain";

void WriteAppLog(const std::wstring& Text, int EventType) {
  RestoreAppDataFolder();
  WriteEventLog(Text, static_cast<uint16_t>(EventType), 0, 1);
}

const TVersionInfo* ProgramVersionInfo() noexcept { return GVersionInfo.get(); }
void TFormMain::Trace(const std::wstring& Text) { OutputDebugStringW((Text + L"\n").c_str()); }
const std::wstring& ProgramModelName() noexcept { return GModelName; }

// ---------------------------------------------------------------------------
// Creation and destruction

TFormMain::TFormMain(TApplication& App) : FApp(App) {
  const HINSTANCE instance = FApp.Instance();
  RegisterWindowClass(
      {KWindowClass, &BoundWindowProc<TFormMain, &TFormMain::FHandle, &TFormMain::HandleMessage, &FailedAnswer>, true,
       LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAINICON)),
       static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAINICON), IMAGE_ICON,
                                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED))});
  // Sized for its DPI by LayoutControls.
  FHandle = CreateWindowExW(KFormExStyle, KWindowClass, L"", KFormStyle, 0, 0, KClientWidth, KOuterHeight,
                            FApp.Handle(), nullptr, FApp.Instance(), this);
  FDpi = WindowDpi(FHandle);
  CreateControls();
  CreatePopupMenu();
  // The tray icon is part of the window's design: it shows (grey) from now on.
  FTrayIcon = std::make_unique<TTrayIcon>(FApp.Instance(), FApp.Handle());
  FTrayIcon->SetImageResources(FApp.Instance(), IDI_TRAY_ON, IDI_TRAY_OFF);
  FTrayIcon->SetImageIndex(1);
  FTrayIcon->OnMouseDown = [this] { JvTrayIconMouseDown(); };
  FTrayIcon->OnDblClick = [this] { JvTrayIconDblClick(); };
  FTrayIcon->OnContextMenu = [this](POINT pt) { ShowTrayMenu(pt); };
  FTrayIcon->Show();
  // Adapters that announce only their interface, not their port.
  FComInterfaceNotify = RegisterComInterfaceNotification(FHandle);
  FormCreate();
}

TFormMain::~TFormMain() {
  FormDestroy();
  if (FHandlerInstalled) SetCallbackExceptionHandler(nullptr);
  if (FHandle) {
    KillTimer(FHandle, TMR_STARTUPPROCESS);
    KillTimer(FHandle, TMR_HOTKEYINTERVAL);
    KillTimer(FHandle, TMR_STARTUPSTATUS);
    KillTimer(FHandle, TMR_LINKREFRESH);
  }
  FComInterfaceNotify.Reset();
  FTrayIcon.reset();
  DestroyBoundWindow(FHandle);
}

void TFormMain::FormCreate() {
  try {
    DoProcess_Initialize();
    DoProcess_InitWindow();
    EnableTimer(TMR_STARTUPPROCESS, FStartupTimerEnabled, true);
    SetCallbackExceptionHandler([this](std::exception_ptr e) { ApplicationException(e); });
    FHandlerInstalled = true;
    FFormCreated = true;
  } catch (...) {
    // Until the exception logger has its file a failure is shown; from then
    // on it is recorded there. Either way the later steps do not run.
    if (FInitStep >= 11)
      TExceptionLogger::LogException(std::current_exception(), L"TFormMain.FormCreate");
    else
      FApp.ShowException(std::current_exception());
  }
}

void TFormMain::DoProcess_Initialize() {
  // 1. Among the last applications to be shut down, without a retry dialog.
  FInitStep = 1;
  SetProcessShutdownParameters(0x100, SHUTDOWN_NORETRY);

  // 2. The version reader (it also sets ExeBaseName).
  FInitStep = 2;
  const std::wstring exePath = GetExeFullPath();
  GVersionInfo = std::make_unique<TVersionInfo>(exePath);

  // 3. Titles and the tray hint.
  FInitStep = 3;
  FProductName = GVersionInfo->ProductName();
  FApp.SetTitle(FProductName);
  SetWindowTextW(FHandle, FApp.Title().c_str());
  FTrayIcon->SetHint(FApp.Title());

  // 4. Event source. Needs rights the program normally lacks; a value that
  // cannot be written to an opened key must not stop the start-up either.
  FInitStep = 4;
  try {
    TRegistryFunc::SetEventLogSource(exePath);
  } catch (...) {
    Trace(L"KAV90R: event source not registered: " + ExceptionMessage(std::current_exception()));
  }

  // 5. Command-line switches (only "/debug" has an effect).
  FInitStep = 5;
  ParseCommandLine();

  // 6.-9. Folders and file paths.
  FInitStep = 6;
  InitAppFolders(exePath, GVersionInfo->InternalName(), L"HotKeyController");
  FInitStep = 7;
  UseFixedAppDataFolder();
  FInitStep = 8;
  InitLogFilePaths(ExeBaseName);
  FInitStep = 9;
  InitIniFilePaths(ExeBaseName, false);

  // 10. The data folder with its Users grant.
  FInitStep = 10;
  TFileOperation::CreateFolder(TFileOperation::GetFileDir(SettingsIniFile), true);

  // 11. From here on, failures of the creation go to the unhandled-error log.
  FInitStep = 11;
  TExceptionLogger::SetLogFile(UnhandledLogFile);

  // 12.-13. Housekeeping: a failure here is lost, the start-up goes on.
  FInitStep = 12;
  try {
    TFileOperation::DeleteOldFiles(LogFolder, TIniFileFunc::GetLogKeepDay(), L".log");
  } catch (...) {
    Trace(L"KAV90R: log clean-up failed: " + ExceptionMessage(std::current_exception()));
  }
  FInitStep = 13;
  try {
    const std::wstring computer = GetComputerNameText();
    WriteAppLog(AppText::StartupPreparationLog(computer, TNetworkFunc::GetIPAddress(computer)), KEventInfo);
  } catch (...) {
    Trace(L"KAV90R: start-up log line lost: " + ExceptionMessage(std::current_exception()));
  }

  // 14.-18. Model name, flags, the owned objects, the device state.
  FInitStep = 14;
  GModelName = GVersionInfo->InternalName();
  FInitStep = 15;
  FQueryEndSession = false;
  FFormShowFlg = false;
  FInitStep = 16;
  FHotKeyInfoList = std::make_unique<THotKeyInfoList>(FHandle);
  FInitStep = 17;
  FEnvSettings = std::make_unique<TEnvSettings>();
  FInitStep = 18;
  FAv90RStat.Init();
}

void TFormMain::DoProcess_InitWindow() {
  LayoutControls();
  FTrayIcon->SetHint(FProductName);
}

void TFormMain::FormDestroy() {
  // Each step runs even when an earlier one failed: the table, the settings
  // and the last log line are independent of each other.
  if (FHotKeyInfoList) GuardCallback([&] { FHotKeyInfoList->DoProcess_UnregisterHotKey(); });
  TIniWriteErrorHandler shownBefore;
  if (FUnattendedEnd)
    shownBefore = SetIniWriteErrorHandler([](const EIniWriteError& E) { WriteAppLog(E.Message(), KEventError); });
  GuardCallback([&] { FHotKeyInfoList.reset(); });
  GuardCallback([&] { FEnvSettings.reset(); });
  if (FUnattendedEnd) SetIniWriteErrorHandler(std::move(shownBefore));
  if (FInitStep >= 8) GuardCallback([] { WriteAppLog(AppText::LogTerminated, KEventInfo); });
  FApp.Terminate();
}

// ---------------------------------------------------------------------------
// Window procedure

LRESULT TFormMain::FailedAnswer(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  // An exception left the handler: answer as the system would, and never
  // stand in the way of the session's end.
  if (Msg == WM_QUERYENDSESSION) return TRUE;
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

LRESULT TFormMain::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
  case WM_HOTKEY:
    WMHotKey(WParam);
    return 0;
  case WM_TIMER:
    switch (WParam) {
    case TMR_STARTUPPROCESS: tmrStartupProcessTimer(); return 0;
    case TMR_HOTKEYINTERVAL: tmrHotKeyIntervalTimer(); return 0;
    case TMR_STARTUPSTATUS: tmrStartupStatusTimer(); return 0;
    case TMR_LINKREFRESH: tmrLinkRefreshTimer(); return 0;
    default: break;
    }
    break;
  case WM_DEVICECHANGE:
    WMDeviceChange(WParam, LParam);
    return TRUE; // never veto a removal or anything else
  case WM_POWERBROADCAST:
    WMPowerBroadcast(WParam);
    return TRUE; // never veto a suspend
  case WM_SHOWWINDOW:
    if (WParam && LParam == 0) FormShow();
    break;
  case WM_CLOSE:
    WMClose();
    return 0;
  case WM_QUERYENDSESSION:
    return WMQueryEndSession();
  case WM_ENDSESSION:
    // Restart Manager and installers (ENDSESSION_CLOSEAPP) may tell only this
    // window, and nobody ends the process for them afterwards: the
    // application window's handler tears down and ends it.
    if (WParam) SendMessageW(FApp.Handle(), WM_ENDSESSION, WParam, LParam);
    return 0;
  case WM_DPICHANGED:
    WMDpiChanged(HIWORD(WParam), *reinterpret_cast<const RECT*>(LParam));
    return 0;
  default:
    break;
  }
  return DefWindowProcW(FHandle, Msg, WParam, LParam);
}

void TFormMain::EnableTimer(UINT_PTR Id, bool& Flag, bool Enable) {
  if (Enable)
    SetTimer(FHandle, Id, 1000, nullptr);
  else
    KillTimer(FHandle, Id);
  Flag = Enable;
}

IAv90RDevice& TFormMain::Device() {
  static TNoDevice noDevice;
  return FDevice ? *FDevice : noDevice;
}

// ---------------------------------------------------------------------------
// Closing

void TFormMain::FormCloseQuery(bool& CanClose) {
  if (FQueryEndSession) {
    FQueryEndSession = false;
    if (FEnvSettings && FEnvSettings->PowerDownOffAppStart() && !Device().ExecPowerCtrl(false)) {
      // Nobody can answer a box while Windows ends the session, and Windows
      // would end the program while it waited: only the exit path shows it.
      if (FSessionEnding)
        Trace(L"KAV90R: power-down at session end failed");
      else
        ShowPortError();
    }
    return; // CanClose stays true, also after a failed power-down
  }
  CanClose = false;
  ShowWindow(FHandle, SW_HIDE);
}

void TFormMain::WMClose() {
  bool canClose = true;
  FormCloseQuery(canClose);
  if (!canClose) return;
  // Closing the main window ends the message loop; the objects go at process end.
  ShowWindow(FHandle, SW_HIDE);
  FApp.Terminate();
}

LRESULT TFormMain::WMQueryEndSession() {
  FQueryEndSession = true;
  const TScopedFlag ending(FSessionEnding);
  bool canClose = true;
  FormCloseQuery(canClose);
  return canClose ? TRUE : FALSE;
}

void TFormMain::ApplicationException(const std::exception_ptr& E) {
  if (IsShownException(E)) {
    FApp.ShowException(E);
    return;
  }
  Trace(L"KAV90R: error dropped: " + ExceptionMessage(E));
}

// ---------------------------------------------------------------------------
// Deferred start-up

void TFormMain::tmrStartupProcessTimer() {
  EnableTimer(TMR_STARTUPPROCESS, FStartupTimerEnabled, false);
  FStartupState = TStartupState::Running;
  if (FOnStatusChanged) FOnStatusChanged(); // the status can be read from now on
  // Commands handed over meanwhile were asked to wait; from the end of this
  // on they act, unless the switcher's answer to the status request is
  // still awaited.
  const TScopeExit startupEnd([this] {
    if (!FStartupStatusTimerEnabled) FStartupState = TStartupState::Done;
  });
  if (!FEnvSettings->ComPort().empty()) {
    const std::wstring port = FEnvSettings->ComPort();
    const bool portOk = RunStartupCommands(port, FEnvSettings->PowerUpOnAppStart(), Device());
    // From here on the link follows the adapter, also while the box below is open.
    FStartupCommandsSent = true;
    if (portOk) {
      // Toggles and the power-up rule of commands need the switcher's answer.
      FStartupStatusTimerEnabled = true;
      SetTimer(FHandle, TMR_STARTUPSTATUS, KStartupStatusWaitMs, nullptr);
    } else if (Device().PortInUseElsewhere()) {
      // Another signed-in account's instance has the switcher: nobody here
      // asked for it yet, so no box; a key pressed here gets one.
      try {
        WriteAppLog(AppText::PortInUseElsewhereLog(port), KEventInfo);
      } catch (...) {
        Trace(L"KAV90R: log line lost: " + ExceptionMessage(std::current_exception()));
      }
    } else {
      ShowPortError();
    }
    if (FEnvSettings->HotKeyEnableOnAppStart()) SetHotKeyEnabled(true);
    DoProcess_ShowMainWindow(false);
  } else {
    // Nothing to follow until a port is stored, and the dialog has the link meanwhile.
    FStartupCommandsSent = true;
    ShowMessageBox(FApp.Handle(), AppText::SelectComPortPrompt(ProgramModelName()), FProductName,
                   MB_TOPMOST | MB_ICONINFORMATION);
    pmiEnvSettingClick();
  }
  try {
    WriteAppLog(AppText::LogStarted, KEventInfo);
  } catch (...) {
    Trace(L"KAV90R: start-up log line lost: " + ExceptionMessage(std::current_exception()));
  }
}

} // namespace kav
