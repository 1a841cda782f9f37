// The settings dialog's key fields, what its controls hold, and its event
// handlers and operations (filling, applying, storing, the change check).
#include "settings/win/frmEnvSettings.h"

#include <commctrl.h>

#include <algorithm>
#include <span>

#include "common/core/AppError.h"
#include "common/core/ScopeExit.h"
#include "common/core/ScopedFlag.h"
#include "common/win/MessageBoxSeam.h"
#include "common/win/WindowText.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "settings/win/clsEnvSettings.h"

namespace kav {

namespace {

const wchar_t KCaptionInfo[] = L"情報";
const wchar_t KCaptionError[] = L"エラー";

} // namespace

// ---------------------------------------------------------------------------
// Key fields

THotKeyValue TFormEnvSettings::GetFieldValue(int Field) const {
  return static_cast<THotKeyValue>(LOWORD(SendMessageW(FHotKeyFields[Field], HKM_GETHOTKEY, 0, 0)));
}

void TFormEnvSettings::SetFieldValue(int Field, THotKeyValue Value) {
  FFallbacks[Field].ProgramSet(Value);
  ApplyFieldRules(Field);
  const bool wasSetting = FSettingField;
  FSettingField = true;
  SendMessageW(FHotKeyFields[Field], HKM_SETHOTKEY, Value, 0);
  FSettingField = wasSetting;
  UpdateFieldText(Field);
}

void TFormEnvSettings::ApplyFieldRules(int Field) {
  // A key without modifiers is invalid; the control then adds the fallback.
  SendMessageW(FHotKeyFields[Field], HKM_SETRULES, HKCOMB_NONE, MAKELPARAM(FFallbacks[Field].Modifiers(), 0));
}

void TFormEnvSettings::UpdateFieldText(int Field) {
  // The control paints its value itself; its window text carries the same
  // combination for WM_GETTEXT readers (screen readers, the end-to-end probe).
  const std::wstring text = HotKeyText(GetFieldValue(Field), PlatformKeyName);
  SetWindowTextW(FHotKeyFields[Field], text.c_str());
}

void TFormEnvSettings::HotKeyFocusGained(int Field) {
  if (FActiveKeyField == Field) return;  // focus back from another window: no new entry
  if (FActiveKeyField >= 0) HotKeyExit(FActiveKeyField);
  FActiveKeyField = Field;
  HotKeyEnter(Field);
}

void TFormEnvSettings::HotKeyFocusLost(int Field, HWND NewFocus) {
  // Only moving to another control of the dialog leaves the field; the focus
  // going to a message box or another program comes back to it.
  if (!IsInside(FHandle, NewFocus) || !IsWindowVisible(FHandle)) return;
  if (FActiveKeyField == Field) FActiveKeyField = -1;
  HotKeyExit(Field);
}

void TFormEnvSettings::HotKeyEnter(int Field) {
  const THotKeyValue shown = GetFieldValue(Field);
  FHotKeyHold = HotKeyCombination(shown);
  FFallbacks[Field].FocusGained(shown);
  SetFieldValue(Field, HotKeyPlaceholder);
}

void TFormEnvSettings::HotKeyExit(int Field) {
  const THotKeyValue shown = GetFieldValue(Field);
  if (IsHotKeyPlaceholder(shown)) SetFieldValue(Field, HotKeyFieldExitValue(shown, FHotKeyHold));
}

void TFormEnvSettings::HotKeyChange(int Field) {
  if (FSettingField) return;  // the program's own change, not the user's
  THotKeyValue shown = GetFieldValue(Field);
  if (shown == 0) {
    // Some hot-key controls report modifier keys held alone as no value at
    // all rather than as modifiers without a key: take them from the keyboard.
    std::uint8_t held = 0;
    if (GetKeyState(VK_SHIFT) < 0) held |= HotKeyFlagShift;
    if (GetKeyState(VK_CONTROL) < 0) held |= HotKeyFlagControl;
    if (GetKeyState(VK_MENU) < 0) held |= HotKeyFlagAlt;
    shown = MakeHotKeyValue(0, held);
  }
  if (shown != HotKeyPlaceholder && HotKeyFieldNeedsReset(shown)) {
    FFallbacks[Field].ResetToPlaceholder(shown);
    SetFieldValue(Field, HotKeyPlaceholder);
  } else {
    UpdateFieldText(Field);
  }
}

// ---------------------------------------------------------------------------
// Reading the controls

std::array<THotKeyValue, HotKeyCount> TFormEnvSettings::FieldValues() const {
  std::array<THotKeyValue, HotKeyCount> values{};
  for (int i = 0; i < FieldCount(); ++i) values[static_cast<std::size_t>(i)] = GetFieldValue(i);
  return values;
}

int TFormEnvSettings::BoundFieldCount() const {
  if (!FHotKeyInfoList) return 0;
  return static_cast<int>(BoundHotKeyCount(static_cast<std::size_t>(std::max(FHotKeyInfoList->Count(), 0)),
                                           static_cast<std::size_t>(FieldCount())));
}

std::array<bool, EnvCheckBoxCount> TFormEnvSettings::CheckBoxStates() const {
  std::array<bool, EnvCheckBoxCount> states{};
  for (std::size_t i = 0; i < EnvCheckBoxCount; ++i)
    states[i] = SendMessageW(FCheckBoxes[i], BM_GETCHECK, 0, 0) == BST_CHECKED;
  return states;
}

std::array<bool, EnvCheckBoxCount> TFormEnvSettings::RecordStates() const {
  const TEnvSettings& r = *FEnvSettings;
  return {r.PowerUpOnAppStart(), r.PowerDownOffAppStart(), r.HotKeyEnableOnAppStart(), r.PowerUpOnHotKeyCtrl(),
          r.WindowVisible()};
}

std::wstring TFormEnvSettings::ComPortText() const { return WindowText(FcmbComPortNum); }

int TFormEnvSettings::ComPortIndex() const {
  return static_cast<int>(SendMessageW(FcmbComPortNum, CB_GETCURSEL, 0, 0));  // CB_ERR (-1): none
}

// ---------------------------------------------------------------------------
// Event handlers and operations

void TFormEnvSettings::FormShow() {
  FComPortIndex_Old = 0;
  FComPortIndex_New = 0;
  FActiveKeyField = -1;
  FLastFocus = nullptr;
  FStorePending = false;
  try {
    InitGUI();
  } catch (const EKavError& e) {
    // The first filling stores at once; a refused write is shown, the dialog opens anyway.
    FStorePending = true;
    ShowStoreError(e.Message());
  }
}

void TFormEnvSettings::InitGUI() {
  const TScopedFlag filling(FInitGUIFinished, false); // finished when this returns, also by an exception

  EnableWindow(FbtnApply, FALSE);
  ShowPage(0);

  const auto record = RecordStates();
  for (std::size_t i = 0; i < EnvCheckBoxCount; ++i)
    SendMessageW(FCheckBoxes[i], BM_SETCHECK, record[i] ? BST_CHECKED : BST_UNCHECKED, 0);

  SendMessageW(FcmbComPortNum, CB_RESETCONTENT, 0, 0);
  const auto items =
      ComPortListItems(ReadSerialCommPorts(FSerialCommRoot, FSerialCommKey.c_str()), FEnvSettings->ComPort());
  for (const auto& item : items) SendMessageW(FcmbComPortNum, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  const int32_t index = FindComPortIndex(items, FEnvSettings->ComPort());
  SendMessageW(FcmbComPortNum, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  FComPortIndex_Old = FComPortIndex_New = index;

  if (FHotKeyInfoList->Count() == 0) {
    // First start: the table is written at once with what the fields show.
    DoProcess_Store();
    EnableWindow(FbtnApply, FALSE);
  } else {
    const int n = BoundFieldCount();
    for (int i = 0; i < n; ++i) {
      SetFieldValue(i, (*FHotKeyInfoList)[i].HotKey());
      FHotkeyValueList_Old[static_cast<std::size_t>(i)] = HotKeyCombination(GetFieldValue(i));
    }
  }
}

void TFormEnvSettings::FormClose() { FHost.SelectHotKeyEnabled(FHandle); }

void TFormEnvSettings::cmbComPortNumChange() { FComPortIndex_New = ComPortIndex(); }

void TFormEnvSettings::btnComPortTestClick() {
  if (FComPortTestRunning) return;  // the test's wait handles messages: no second test inside it
  const std::wstring model = FHost.ModelName();
  const std::wstring port = ComPortText();
  if (port == KComPortNotSelected) {
    ShowMessageBox(FHandle, ComPortSelectPromptText(model), KCaptionInfo, MB_OK | MB_ICONINFORMATION);
    return;
  }
  FComPortTestRunning = true;
  const TScopeExit restore([this] {
    FComPortTestRunning = false;
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  });
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  const bool ok = FComPortTest ? FComPortTest(port) : false;
  if (ok) {
    ShowMessageBox(FHandle, ComPortTestSuccessText(model), KCaptionInfo, MB_OK | MB_ICONINFORMATION);
  } else {
    ShowMessageBox(FHandle, ComPortTestFailureText(model), KCaptionError, MB_OK | MB_ICONERROR);
  }
}

void TFormEnvSettings::btnDefaultClick() {
  const auto values = DefaultFieldValues(static_cast<std::size_t>(std::max(FHotKeyInfoList ? FHotKeyInfoList->Count() : 0, 0)),
                                         static_cast<std::size_t>(FieldCount()));
  for (std::size_t i = 0; i < values.size(); ++i) SetFieldValue(static_cast<int>(i), values[i]);
}

void TFormEnvSettings::btnOKClick() {
  if (DoProcess_Apply()) EndModal(IDOK);
}

void TFormEnvSettings::btnApplyClick() { DoProcess_Apply(); }

bool TFormEnvSettings::DoProcess_Apply() {
  // Bring "適用" up to date first, so that an edit made without an idle pass
  // since (a click arriving right after a key) is not lost.
  DoProcess_CheckChange();
  if (!IsWindowEnabled(FbtnApply)) return true;
  if (IsDuplicateHotKey()) {
    ShowMessageBox(FHandle, KDuplicateHotKeyText, KCaptionError, MB_OK | MB_ICONERROR);
    return false;
  }
  const auto boxes = CheckBoxStates();
  TEnvSettings& r = *FEnvSettings;
  r.SetPowerUpOnAppStart(boxes[0]);
  r.SetPowerDownOffAppStart(boxes[1]);
  r.SetHotKeyEnableOnAppStart(boxes[2]);
  r.SetPowerUpOnHotKeyCtrl(boxes[3]);
  r.SetWindowVisible(boxes[4]);
  const int index = ComPortIndex();
  r.SetComPort(ComPortToStore(index, ComPortText(), r.ComPort()));
  FComPortIndex_Old = index;
  try {
    DoProcess_Store();
  } catch (const EKavError& e) {
    // The settings in memory are the new ones, the file is not: show why,
    // keep the dialog open and "適用" on so the user can try again.
    FStorePending = true;
    EnableWindow(FbtnApply, TRUE);
    ShowStoreError(e.Message());
    return false;
  }
  FStorePending = false;
  EnableWindow(FbtnApply, FALSE);
  return true;
}

void TFormEnvSettings::DoProcess_Store() {
  THotKeyInfoList& list = *FHotKeyInfoList;
  list.DoProcess_UnregisterHotKey();
  list.Clear();
  const auto values = FieldValues();
  const auto items = HotKeyStoreItems(std::span<const THotKeyValue>(values.data(), static_cast<std::size_t>(FieldCount())));
  for (std::size_t i = 0; i < items.size(); ++i) {
    list.AddItem(items[i].Value, items[i].Func);
    FHotkeyValueList_Old[i] = HotKeyCombination(items[i].Value);
  }
  FEnvSettings->Save();
  list.Save();
}

void TFormEnvSettings::DoProcess_CheckChange() {
  if (!FInitGUIFinished || !FHotKeyInfoList || !FEnvSettings || !FHandle) return;
  const auto values = FieldValues();
  const bool changed = IsEnvSettingsChanged(
      FComPortIndex_Old, FComPortIndex_New, CheckBoxStates(), RecordStates(),
      std::span<const THotKeyValue>(values.data(), static_cast<std::size_t>(FieldCount())), FHotkeyValueList_Old,
      static_cast<std::size_t>(std::max(FHotKeyInfoList->Count(), 0)), FStorePending);
  if ((IsWindowEnabled(FbtnApply) != FALSE) != changed) EnableWindow(FbtnApply, changed ? TRUE : FALSE);
}

bool TFormEnvSettings::IsDuplicateHotKey() const {
  const auto values = FieldValues();
  return kav::IsDuplicateHotKey(std::span<const THotKeyValue>(values.data(), static_cast<std::size_t>(FieldCount())),
                                static_cast<std::size_t>(std::max(FHotKeyInfoList ? FHotKeyInfoList->Count() : 0, 0)));
}

void TFormEnvSettings::ShowStoreError(const std::wstring& Message) {
  ShowMessageBox(FHandle, Message, KCaptionError, MB_OK | MB_ICONERROR);
}

} // namespace kav
