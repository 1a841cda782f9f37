// The status window's hot keys, tray icon and menu, and the paths to the
// settings dialog and the About dialog.
#include "app/win/frmMain.h"

#include "app/core/AppExceptions.h"
#include "app/core/AppTexts.h"
#include "app/core/HotKeyDispatch.h"
#include "app/core/IAv90RDevice.h"
#include "app/win/Application.h"
#include "app/win/EnvSettingsForm.h"
#include "app/win/FormUtil.h"
#include "app/win/TrayIcon.h"
#include "common/core/ScopeExit.h"
#include "common/core/ScopedFlag.h"
#include "common/win/KCFL_FormAbout.h"
#include "common/win/MessageBoxSeam.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "settings/win/clsEnvSettings.h"

namespace kav {

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
  const TScopedFlag showing(FFormShowFlg);
  BringFormToFront(FHandle);
  const std::wstring question = AppText::HotKeyEnableQuestion(HotKeyEnabled());
  int answer;
  if (Handle == FApp.Handle())
    answer = ShowMessageBox(FApp.Handle(), question, FProductName, MB_TOPMOST | MB_ICONQUESTION | MB_YESNO);
  else
    answer = ShowMessageBox(Handle, question, AppText::ConfirmCaption, MB_ICONQUESTION | MB_YESNO);
  if (answer == IDYES) SetHotKeyEnabled(!HotKeyEnabled());
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
  // Left set, the flag would grey the tray menu (exit included) for the rest
  // of the run: it is clear when this ends, however it ends.
  const TScopeExit clearShowFlg([this] { FFormShowFlg = false; });
  BringFormToFront(FHandle);
  int answer = IDYES;
  if (HotKeyEnabled())
    answer = ShowMessageBox(FApp.Handle(), AppText::EnvSettingQuestion, FProductName,
                            MB_TOPMOST | MB_ICONQUESTION | MB_YESNO);
  if (answer != IDYES) return;
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
}

void TFormMain::pmiVersionClick() {
  const TScopedFlag showing(FFormShowFlg);
  ShowAboutDialog();
}

void TFormMain::ShowAboutDialog() {
  if (FShowAbout) {
    FShowAbout();
    return;
  }
  TFormAbout about(FApp.Handle());
  about.Init(ProgramVersionInfo());
  FApp.SetToolWindowStyle();
  about.ShowModal();
}

} // namespace kav
