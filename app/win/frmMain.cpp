#include "app/win/frmMain.h"

#include <commctrl.h>
#include <dbt.h>

#include <array>

#include "app/core/AppExceptions.h"
#include "app/core/AppTexts.h"
#include "app/core/HotKeyDispatch.h"
#include "app/core/IAv90RDevice.h"
#include "app/core/WindowPlacement.h"
#include "app/win/Application.h"
#include "app/win/DeviceNotice.h"
#include "app/win/EnvSettingsForm.h"
#include "app/win/ExceptionLogger.h"
#include "app/win/WindowRouting.h"
#include "app/win/FormUtil.h"
#include "app/win/TrayIcon.h"
#include "common/core/ScopedFlag.h"
#include "common/win/CallbackGuard.h"
#include "common/win/KCFL_FormScaling.h"
#include "common/win/KCFL_FormAbout.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_EventLog.h"
#include "common/win/KCL_FileOperation.h"
#include "common/win/KCL_IniFileFunc.h"
#include "common/win/KCL_NetworkFunc.h"
#include "common/win/KCL_RegistryFunc.h"
#include "common/win/KCL_VersionInfo.h"
#include "common/win/MessageBoxSeam.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "resources/resource.h"
#include "settings/win/clsEnvSettings.h"

namespace kav {

namespace {

std::unique_ptr<TVersionInfo> GVersionInfo;
std::wstring GModelName;

constexpr DWORD KFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD KFormExStyle = WS_EX_WINDOWEDGE;
constexpr int KClientWidth = 214;
constexpr int KOuterHeight = 125;
constexpr int KCaptionLeft = 25;
constexpr int KValueLeft = 155;
constexpr std::array<int, 4> KRowTop = {10, 30, 50, 70};
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

void Trace(const std::wstring& Text) { OutputDebugStringW((Text + L"\n").c_str()); }

} // namespace

const wchar_t TFormMain::KWindowClass[] = L"TFormMain";

void WriteAppLog(const std::wstring& Text, int EventType) {
  RestoreAppDataFolder();
  WriteEventLog(Text, static_cast<uint16_t>(EventType), 0, 1);
}

const TVersionInfo* ProgramVersionInfo() noexcept { return GVersionInfo.get(); }
const std::wstring& ProgramModelName() noexcept { return GModelName; }

// ---------------------------------------------------------------------------
// Creation and destruction

void TFormMain::RegisterWindowClass(HINSTANCE Instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &TFormMain::WndProc;
  wc.hInstance = Instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.hIcon = LoadIconW(Instance, MAKEINTRESOURCEW(IDI_MAINICON));
  wc.hIconSm = static_cast<HICON>(LoadImageW(Instance, MAKEINTRESOURCEW(IDI_MAINICON), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  wc.lpszClassName = KWindowClass;
  RegisterClassExW(&wc); // already registered (a second form in tests): fine
}

TFormMain::TFormMain(TApplication& App) : FApp(App) {
  RegisterWindowClass(FApp.Instance());
  // Sized for its DPI by LayoutControls.
  FHandle = CreateWindowExW(KFormExStyle, KWindowClass, L"", KFormStyle, 0, 0, KClientWidth, KOuterHeight,
                            FApp.Handle(), nullptr, FApp.Instance(), this);
  FDpi = WindowDpi(FHandle);
  CreateControls();
  CreatePopupMenu();
  // The tray icon is part of the window's design: it shows (grey) from now on.
  FTrayIcon = std::make_unique<TTrayIcon>(FApp.Instance(), FApp.Handle());
  FTrayIcon->SetImages(TTrayIcon::LoadSmallIcon(FApp.Instance(), IDI_TRAY_ON),
                       TTrayIcon::LoadSmallIcon(FApp.Instance(), IDI_TRAY_OFF));
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
    KillTimer(FHandle, TMR_STARTUPCOMMAND);
    KillTimer(FHandle, TMR_LINKREFRESH);
  }
  FComInterfaceNotify.Reset();
  FTrayIcon.reset();
  if (FHandle) {
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
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
  auto step = [](auto&& fn) {
    try {
      fn();
    } catch (...) {
      HandleCallbackException();
    }
  };
  if (FHotKeyInfoList) step([&] { FHotKeyInfoList->DoProcess_UnregisterHotKey(); });
  step([&] { FHotKeyInfoList.reset(); });
  step([&] { FEnvSettings.reset(); });
  if (FInitStep >= 8) step([] { WriteAppLog(AppText::LogTerminated, KEventInfo); });
  FApp.Terminate();
}

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
  HDC dc = GetDC(FHandle);
  for (int row = 0; row < 4; ++row) {
    const int top = ScaleForDpi(KRowTop[static_cast<size_t>(row)], FDpi);
    for (int col = 0; col < 2; ++col) {
      HWND label = Control(IDC_LBL_HOTKEYENABLED + row * 2 + col);
      HFONT font = col == 0 ? FFont.Get() : FBoldFont.Get();
      SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      HGDIOBJ old = SelectObject(dc, font);
      TEXTMETRICW tm{};
      GetTextMetricsW(dc, &tm);
      SelectObject(dc, old);
      const int left = col == 0 ? captionLeft : valueLeft;
      // A caption takes the whole space up to its value, so it is cut only
      // where it would run into the value; the value takes the rest of the row.
      const int width = col == 0 ? valueLeft - captionLeft : clientWidth - valueLeft;
      SetWindowPos(label, nullptr, left, top, width, tm.tmHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  ReleaseDC(FHandle, dc);

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
// Window procedure

LRESULT CALLBACK TFormMain::WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  LRESULT result = 0;
  switch (RouteWindowMessage(Wnd, Msg, WParam, LParam, &TFormMain::FHandle, &TFormMain::HandleMessage, result)) {
  case TRouteResult::Handled:
    return result;
  case TRouteResult::Failed:
    // An exception left the handler: answer as the system would.
    if (Msg == WM_QUERYENDSESSION) return TRUE;
    break;
  case TRouteResult::Unbound:
    break;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

LRESULT TFormMain::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
  case WM_HOTKEY:
    WMHotKey(WParam);
    return 0;
  case WM_TIMER:
    if (WParam == TMR_STARTUPPROCESS) {
      tmrStartupProcessTimer();
      return 0;
    }
    if (WParam == TMR_HOTKEYINTERVAL) {
      tmrHotKeyIntervalTimer();
      return 0;
    }
    if (WParam == TMR_STARTUPCOMMAND) {
      tmrStartupCommandTimer();
      return 0;
    }
    if (WParam == TMR_LINKREFRESH) {
      tmrLinkRefreshTimer();
      return 0;
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
}

void TFormMain::DoProcess_ShowMainWindow(bool Force) {
  if (!Force && !(FEnvSettings && FEnvSettings->WindowVisible())) return;
  FApp.SetToolWindowStyle();
  ShowWindow(FHandle, SW_SHOW);
  BringFormToFront(FHandle);
}

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
  struct TStartupEnd {
    TFormMain& Self;
    ~TStartupEnd() {
      // Commands handed over meanwhile were asked to wait; from now on they
      // act, unless this start's own command still waits for the status reply.
      if (!Self.FStartupCommandTimerEnabled) Self.FStartupState = TStartupState::Done;
    }
  } startupEnd{*this};
  if (!FEnvSettings->ComPort().empty()) {
    const bool portOk = RunStartupCommands(FEnvSettings->ComPort(), FEnvSettings->PowerUpOnAppStart(), Device());
    // From here on the link follows the adapter, also while the box below is open.
    FStartupCommandsSent = true;
    if (!portOk) ShowPortError();
    if (FEnvSettings->HotKeyEnableOnAppStart()) SetHotKeyEnabled(true);
    if (FStartupRemoteCommand) {
      if (FStartupRemoteCommand->Kind == TRemoteCommandKind::HotKey) {
        RunStartupRemoteCommand();
      } else if (!portOk) {
        FStartupRemoteCommand.reset(); // the start-up's port error box has said it all
      } else {
        // Toggles and the power-up rule need the switcher's answer to the status request.
        FStartupCommandTimerEnabled = true;
        SetTimer(FHandle, TMR_STARTUPCOMMAND, KStartupCommandWaitMs, nullptr);
      }
    }
    DoProcess_ShowMainWindow(false);
  } else {
    // A first start sets the program up before it carries out any command.
    FStartupRemoteCommand.reset();
    // Nothing to follow until a port is stored, and the dialog has the link meanwhile.
    FStartupCommandsSent = true;
    ShowMessageBox(FApp.Handle(), AppText::SelectComPortPrompt(GModelName), FProductName,
                   MB_TOPMOST | MB_ICONINFORMATION);
    pmiEnvSettingClick();
  }
  try {
    WriteAppLog(AppText::LogStarted, KEventInfo);
  } catch (...) {
    Trace(L"KAV90R: start-up log line lost: " + ExceptionMessage(std::current_exception()));
  }
}

// ---------------------------------------------------------------------------
// Hot keys

void TFormMain::WMHotKey(WPARAM Id) {
  if (!FHotKeyInfoList) return;
  const auto id = static_cast<uint32_t>(Id);
  const int count = FHotKeyInfoList->Count();
  for (int i = 0; i < count; ++i) {
    const THotKeyInfo& entry = (*FHotKeyInfoList)[i];
    if (!HotKeyIdMatches(entry.HotKeyID(), id)) continue;
    OutputDebugStringW(AppText::HotKeyPressedTrace(entry.HotKeyFuncAndText()).c_str());
    DoProcess_HotKeyAction(i);
    return;
  }
}

void TFormMain::DoProcess_HotKeyAction(int Index) {
  if (FHotKeyIntervalEnabled) return; // inside the suppression window
  EnableTimer(TMR_HOTKEYINTERVAL, FHotKeyIntervalEnabled, true);
  try {
    const auto plan = PlanHotKeyAction(Index, FAv90RStat, FEnvSettings->PowerUpOnHotKeyCtrl());
    if (ExecuteHotKeyAction(plan, Device()) == THotKeyActionResult::PortError) ShowPortError();
  } catch (const std::exception&) {
    const std::exception_ptr e = std::current_exception();
    BringFormToFront(FHandle);
    ShowMessageBox(FHandle, ExceptionMessage(e), AppText::ErrorCaption, MB_ICONERROR);
  }
}

void TFormMain::tmrHotKeyIntervalTimer() { EnableTimer(TMR_HOTKEYINTERVAL, FHotKeyIntervalEnabled, false); }

bool TFormMain::HotKeyEnabled() const {
  return (GetMenuState(FPopupMenu.Get(), IDM_HOTKEYENABLED, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void TFormMain::SetHotKeyEnabled(bool Value) { ApplyHotKeyEnabled(Value, true); }

int TFormMain::ApplyHotKeyEnabled(bool Value, bool ReportFailures) {
  CheckMenuItem(FPopupMenu.Get(), IDM_HOTKEYENABLED, MF_BYCOMMAND | (Value ? MF_CHECKED : MF_UNCHECKED));
  SetLabel(IDC_LBL_HOTKEYENABLEDSTAT, AppText::HotKeyStateText(Value));
  FHotKeyInfoList->DoProcess_UnregisterHotKey();
  int failures = 0;
  if (Value) {
    failures = FHotKeyInfoList->DoProcess_RegisterHotKey(ReportFailures);
    FTrayIcon->SetImageIndex(0);
  } else {
    FTrayIcon->SetImageIndex(1);
  }
  return failures;
}

void TFormMain::SelectHotKeyEnabled(HWND Handle) {
  FFormShowFlg = true;
  try {
    BringFormToFront(FHandle);
    const std::wstring question = AppText::HotKeyEnableQuestion(HotKeyEnabled());
    int answer;
    if (Handle == FApp.Handle())
      answer = ShowMessageBox(FApp.Handle(), question, FProductName, MB_TOPMOST | MB_ICONQUESTION | MB_YESNO);
    else
      answer = ShowMessageBox(Handle, question, AppText::ConfirmCaption, MB_ICONQUESTION | MB_YESNO);
    if (answer == IDYES) SetHotKeyEnabled(!HotKeyEnabled());
  } catch (...) {
    FFormShowFlg = false;
    throw;
  }
  FFormShowFlg = false;
}

// ---------------------------------------------------------------------------
// Commands from the command line

TRemoteAnswer TFormMain::DoProcess_RemoteCommand(const TRemoteCommand& Command) {
  if (!IsValidRemoteCommand(Command) || Command.Kind == TRemoteCommandKind::Status)
    return TRemoteAnswer::NotUnderstood;
  // Whatever the person is answering comes first: nothing changes behind a
  // dialog, a question or a box (a nested command included).
  if (FFormShowFlg || OpenMessageBoxCount() > 0 || FRemoteCommandRunning) return TRemoteAnswer::Busy;
  if (FStartupState != TStartupState::Done) return TRemoteAnswer::Starting;
  const TScopedFlag running(FRemoteCommandRunning);
  // Nobody at the screen asked for this: a key that cannot be registered and
  // a port that cannot be opened are told by the exit code, not in a box.
  if (Command.Kind == TRemoteCommandKind::HotKey)
    return ApplyHotKeyEnabled(Command.Value == KRemoteOn, false) == 0 ? TRemoteAnswer::Done : TRemoteAnswer::NotDone;
  bool written = false;
  const auto plan = PlanRemoteCommand(Command, FAv90RStat, FEnvSettings->PowerUpOnHotKeyCtrl());
  const auto result = ExecuteHotKeyAction(plan, Device(), &written);
  return result == THotKeyActionResult::Sent && written ? TRemoteAnswer::Done : TRemoteAnswer::NotDone;
}

TRemoteAnswer TFormMain::GetRemoteStatus(TRemoteStatus& Status) const {
  if (FStartupState == TStartupState::Waiting) return TRemoteAnswer::Starting;
  Status.Power = FAv90RStat.FPowerStat;
  Status.Blackout = FAv90RStat.FBlackoutStat;
  Status.Input = FAv90RStat.FSelChannel;
  Status.HotKey = HotKeyEnabled();
  Status.Port = FEnvSettings ? FEnvSettings->ComPort() : std::wstring();
  return TRemoteAnswer::Done;
}

void TFormMain::tmrStartupCommandTimer() {
  // Nothing happens behind a dialog or a box the person opened meanwhile:
  // the command waits until they are closed.
  if (FFormShowFlg || OpenMessageBoxCount() > 0) {
    SetTimer(FHandle, TMR_STARTUPCOMMAND, KStartupCommandWaitMs, nullptr);
    return;
  }
  KillTimer(FHandle, TMR_STARTUPCOMMAND);
  FStartupCommandTimerEnabled = false;
  FStartupState = TStartupState::Done;
  RunStartupRemoteCommand();
}

void TFormMain::RunStartupRemoteCommand() {
  if (!FStartupRemoteCommand) return;
  const TRemoteCommand command = *FStartupRemoteCommand;
  FStartupRemoteCommand.reset();
  // The person sees this start: the command acts exactly like its hot key,
  // port error box included, since nobody else could learn of a failure.
  if (command.Kind == TRemoteCommandKind::HotKey) {
    SetHotKeyEnabled(command.Value == KRemoteOn);
    return;
  }
  const auto plan = PlanRemoteCommand(command, FAv90RStat, FEnvSettings->PowerUpOnHotKeyCtrl());
  if (ExecuteHotKeyAction(plan, Device()) == THotKeyActionResult::PortError) ShowPortError();
}

void TFormMain::ShowPortError() {
  ShowMessageBox(FHandle, AppText::PortError, FProductName, MB_TOPMOST | MB_ICONERROR);
}

std::wstring TFormMain::ModelName() const { return GModelName; }

// ---------------------------------------------------------------------------
// Following the adapter and the PC's sleep

bool TFormMain::FollowsDevice() const {
  // Not before the start-up has used the link, not while the settings dialog
  // has it, and not without a stored port.
  return FStartupCommandsSent && !FEnvSettingsOpen && FEnvSettings && !FEnvSettings->ComPort().empty();
}

void TFormMain::WMDeviceChange(WPARAM Event, LPARAM Data) {
  if (Event != DBT_DEVICEARRIVAL && Event != DBT_DEVICEREMOVECOMPLETE) return;
  if (!FollowsDevice()) return;
  const TDeviceNotice notice = ReadDeviceNotice(Data);
  const std::wstring& port = FEnvSettings->ComPort();
  if (notice.Kind == TDeviceNotice::TKind::Other) return;
  if (notice.Kind == TDeviceNotice::TKind::Port && !SamePortName(port, notice.PortName)) return;

  if (Event == DBT_DEVICEARRIVAL) {
    ArmLinkRefresh(notice.Kind == TDeviceNotice::TKind::Port ? FLinkRefresh.PortArrived()
                                                             : FLinkRefresh.InterfaceArrived());
    return;
  }
  // Gone: close at once, without a word (nobody pressed anything). An
  // interface notice names no port; it counts when the stored one is gone.
  if (notice.Kind == TDeviceNotice::TKind::ComInterface && SerialPortPresent(port)) return;
  CloseLink();
}

void TFormMain::CloseLink() {
  // Closing waits for the watcher while serving sent messages, so a device
  // notice can arrive inside it: the close under way covers that one too.
  if (FClosingPort) return;
  const TScopedFlag closing(FClosingPort);
  Device().ClosePort();
}

void TFormMain::WMPowerBroadcast(WPARAM Event) {
  switch (Event) {
  case PBT_APMSUSPEND:
    FLinkRefresh.Suspending();
    break;
  case PBT_APMRESUMEAUTOMATIC:
    ArmLinkRefresh(FLinkRefresh.ResumedAutomatic());
    break;
  case PBT_APMRESUMESUSPEND:
    ArmLinkRefresh(FLinkRefresh.ResumedByUser());
    break;
  default:
    break;
  }
}

void TFormMain::ArmLinkRefresh(bool Newly) {
  if (!FollowsDevice()) {
    FLinkRefresh.Take(); // not ours to act on now; nothing may stay pending without its timer
    return;
  }
  if (Newly) SetTimer(FHandle, TMR_LINKREFRESH, KLinkRefreshDelayMs, nullptr);
}

void TFormMain::tmrLinkRefreshTimer() {
  KillTimer(FHandle, TMR_LINKREFRESH);
  const TLinkRefresh what = FLinkRefresh.Take();
  if (what == TLinkRefresh::None || !FollowsDevice()) return;
  const std::wstring port = FEnvSettings->ComPort();
  if (what == TLinkRefresh::IfClosed && (Device().Connected() || !SerialPortPresent(port))) return;
  // A handle that slept or whose adapter came back may be stale: open afresh.
  // A port that does not open shows nothing; the next key press reports it.
  CloseLink();
  Device().SetComPort(port);
  Device().SendRequestStatus();
}

// ---------------------------------------------------------------------------
// Reported values

void TFormMain::DoProcess_RcvPowerStat(bool Stat) {
  FAv90RStat.FPowerStat = Stat;
  SetLabel(IDC_LBL_POWERSTAT, AppText::OnOffText(Stat));
}

void TFormMain::DoProcess_RcvBlackoutStat(bool Stat) {
  FAv90RStat.FBlackoutStat = Stat;
  SetLabel(IDC_LBL_BLACKOUTSTAT, AppText::OnOffText(Stat));
}

void TFormMain::DoProcess_RcvSelectChannel(int32_t Channel) {
  FAv90RStat.FSelChannel = Channel;
  SetLabel(IDC_LBL_SELCHANNELSTAT, AppText::SelChannelText(Channel));
  // The input comes last in a status reply: the start's own command need not wait longer.
  if (FStartupCommandTimerEnabled) SetTimer(FHandle, TMR_STARTUPCOMMAND, USER_TIMER_MINIMUM, nullptr);
}

// ---------------------------------------------------------------------------
// Tray icon and menu

void TFormMain::JvTrayIconMouseDown() { BringFormToFront(FHandle); }

void TFormMain::JvTrayIconDblClick() {
  if (!FFormShowFlg) SelectHotKeyEnabled(FApp.Handle());
}

void TFormMain::pmTrayIconPopup() {
  HMENU m = FPopupMenu.Get();
  const UINT state = FFormShowFlg ? MF_GRAYED : MF_ENABLED;
  const int count = GetMenuItemCount(m);
  for (int i = 0; i < count; ++i) EnableMenuItem(m, static_cast<UINT>(i), MF_BYPOSITION | state);
}

void TFormMain::ShowTrayMenu(POINT Pos) {
  pmTrayIconPopup();
  HWND owner = FTrayIcon->Handle();
  // The owner must be the foreground window, and a message must follow, or
  // the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(owner);
  const UINT cmd = static_cast<UINT>(TrackPopupMenuEx(FPopupMenu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                      Pos.x, Pos.y, owner, nullptr));
  PostMessageW(owner, WM_NULL, 0, 0);
  if (cmd != 0) DispatchMenuCommand(cmd);
}

void TFormMain::DispatchMenuCommand(UINT Id) {
  switch (Id) {
  case IDM_HOTKEYENABLED: pmiHotKeyEnabledClick(); break;
  case IDM_ENVSETTING: pmiEnvSettingClick(); break;
  case IDM_WINDOWVISIBLE: pmiWindowVisibleClick(); break;
  case IDM_VERSION: pmiVersionClick(); break;
  case IDM_TERMINATE: pmiTerminateClick(); break;
  default: break;
  }
}

void TFormMain::pmiHotKeyEnabledClick() { SetHotKeyEnabled(!HotKeyEnabled()); }

void TFormMain::pmiWindowVisibleClick() { DoProcess_ShowMainWindow(true); }

void TFormMain::pmiTerminateClick() {
  FQueryEndSession = true;
  SendMessageW(FHandle, WM_CLOSE, 0, 0);
}

// ---------------------------------------------------------------------------
// Dialog paths

void TFormMain::pmiEnvSettingClick() {
  FFormShowFlg = true;
  BringFormToFront(FHandle);
  int answer = IDYES;
  if (HotKeyEnabled())
    answer = ShowMessageBox(FApp.Handle(), AppText::EnvSettingQuestion, FProductName,
                            MB_TOPMOST | MB_ICONQUESTION | MB_YESNO);
  if (answer != IDYES) {
    FFormShowFlg = false;
    return;
  }
  try {
    SetHotKeyEnabled(false);
    if (FEnvSettingsForm) {
      FEnvSettingsForm->SetEnvSettings(*FHotKeyInfoList, *FEnvSettings);
      FApp.SetToolWindowStyle();
      // Its close handler asks the hot-key question and clears FFormShowFlg.
      // While it is open the dialog's communication test owns the link.
      const TScopedFlag open(FEnvSettingsOpen);
      FEnvSettingsForm->ShowModal();
    } else {
      FFormShowFlg = false;
    }
    Device().SetComPort(FEnvSettings->ComPort());
    if (FOnStatusChanged) FOnStatusChanged(); // the port may have changed
  } catch (...) {
    // Left set, the flag would grey the tray menu (exit included) for the
    // rest of the run.
    FFormShowFlg = false;
    throw;
  }
}

void TFormMain::pmiVersionClick() {
  FFormShowFlg = true;
  try {
    ShowAboutDialog();
  } catch (...) {
    FFormShowFlg = false;
    throw;
  }
  FFormShowFlg = false;
}

void TFormMain::ShowAboutDialog() {
  if (FShowAbout) {
    FShowAbout();
    return;
  }
  TFormAbout about(FApp.Handle());
  about.Init(GVersionInfo.get());
  FApp.SetToolWindowStyle();
  about.ShowModal();
}

} // namespace kav
