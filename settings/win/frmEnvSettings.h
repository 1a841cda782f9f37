#pragma once
// The settings dialog "環境設定": edits the settings record and the ten hot
// keys of the hot-key table in place, stores them, and tests the serial link.
// Created hidden once at start-up, shown modally again and again.
//
// Window class "TFormEnvSettings". Every text is a real child control whose
// WM_GETTEXT returns it. Child control ids (the controls of a page are
// children of that page's container window, so look them up among all
// descendants, e.g. with EnumChildWindows):
//
//   1001  btnOK            "OK"
//   2     btnCancel        "キャンセル"          (IDCANCEL: Escape works too)
//   1003  btnApply         "適用"
//   1004  pgcSettings      tab control: "基本設定", "ホットキー設定"
//   1005  tabBasic         page container of "基本設定"
//   1006  tabHotKey        page container of "ホットキー設定"
//   1101  grpAction        "動作設定"
//   1102  chkPowerUpOnAppStart       "起動時、KTX-AV90Rの電源をONにする(&U)"
//   1103  chkPowerDownOffAppStart    "終了時、KTX-AV90Rの電源をOFFにする(&D)"
//   1104  chkHotKeyEnableOnAppStart  "起動時、ホットキー制御を有効にする(&C)"
//   1105  chkPowerUpOnHotKeyCtrl     "ホットキー制御時、KTX-AV90Rの電源をONにする(&I)"
//   1106  chkWindowVisible           "ウィンドウ表示を自動起動する(&W)"
//   1107  grpComPort       "COMポート設定"
//   1108  lblComPortNum    "ポート番号："
//   1109  cmbComPortNum    drop-down list: "選択してください", "COM1" .. "COM20",
//                          the system's ports above COM20, then the stored
//                          port if the list still lacks it
//   1110  btnComPortTest   "通信テスト(&T)"
//   1201  grpCtrl          "制御"
//   1202  grpChannel       "入力ソース選択"
//   1210+i  label of key field i  ("電源制御：", "ブラックアウト：", "入力1：" .. "入力8：")
//   1220+i  key field i (msctls_hotkey32): 0 HotKeyPowerCtrl, 1 HotKeyBlackout,
//           2..9 HotKeyInput1..8. HKM_GETHOTKEY gives its value; its window
//           text is kept equal to the combination's display text ("Ctrl + M").
//   1230  btnDefault       "デフォルト"
#include <windows.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "common/win/Handles.h"
#include "hotkeys/core/HotKeyValue.h"
#include "settings/core/EnvSettingsRules.h"
#include "settings/win/IEnvSettingsHost.h"
#include "settings/win/SerialCommPorts.h"

namespace kav {

class THotKeyInfoList;
class TEnvSettings;

class TFormEnvSettings {
public:
  enum : int {
    IDC_BTN_OK = 1001,
    IDC_BTN_CANCEL = 2,
    IDC_BTN_APPLY = 1003,
    IDC_PAGES = 1004,
    IDC_TAB_BASIC = 1005,
    IDC_TAB_HOTKEY = 1006,
    IDC_GRP_ACTION = 1101,
    IDC_CHK_POWERUP_ON_APPSTART = 1102,
    IDC_CHK_POWERDOWN_OFF_APPSTART = 1103,
    IDC_CHK_HOTKEY_ENABLE_ON_APPSTART = 1104,
    IDC_CHK_POWERUP_ON_HOTKEYCTRL = 1105,
    IDC_CHK_WINDOW_VISIBLE = 1106,
    IDC_GRP_COMPORT = 1107,
    IDC_LBL_COMPORTNUM = 1108,
    IDC_CMB_COMPORTNUM = 1109,
    IDC_BTN_COMPORTTEST = 1110,
    IDC_GRP_CTRL = 1201,
    IDC_GRP_CHANNEL = 1202,
    IDC_LBL_HOTKEY_FIRST = 1210,  // + field index 0..9
    IDC_HOTKEY_FIRST = 1220,      // + field index 0..9
    IDC_BTN_DEFAULT = 1230,
  };

  // Window class of the dialog.
  static const wchar_t KWindowClass[];

  // Creates the dialog window, hidden, owned by Owner (the application
  // window; may be null). Host is asked the closing question and the model
  // name; it must outlive the dialog.
  TFormEnvSettings(HWND Owner, IEnvSettingsHost& Host);
  ~TFormEnvSettings();
  TFormEnvSettings(const TFormEnvSettings&) = delete;
  TFormEnvSettings& operator=(const TFormEnvSettings&) = delete;

  // Hands over the table and the record to edit at the next showing. Neither
  // is owned; both must stay alive while the dialog is shown.
  void SetEnvSettings(THotKeyInfoList& HotKeyInfoList, TEnvSettings& EnvSettings);

  // The communication test: takes the port name, returns true when the
  // switcher answered. The program hands over the device link's test once
  // the device link exists (it is created after the dialog); without one the
  // test fails.
  using TComPortTestFunc = std::function<bool(const std::wstring& AComPort)>;
  void SetComPortTestFunc(TComPortTestFunc Func);
  // Registry key whose values list the system's serial ports, read at each
  // showing; HKLM\HARDWARE\DEVICEMAP\SERIALCOMM unless a test points it at
  // a key of its own.
  void SetSerialCommKey(HKEY Root, std::wstring SubKey);

  // Shows the dialog modally and returns when it has been closed: IDOK after
  // OK, IDCANCEL after Cancel, Escape or the close box. The host's
  // SelectHotKeyEnabled has run by then. Other top-level windows of the
  // thread are disabled meanwhile; every message of the thread is still
  // dispatched, and each time the queue runs empty the idle check runs.
  int ShowModal();

  // Ends a running ShowModal as if the close box had been clicked.
  void Close();

  // The application's idle notification: updates "適用" once the dialog has
  // been filled. ShowModal calls it itself; the program may also call it
  // from its own message loop (it does nothing harmful while hidden).
  void ApplicationEventsIdle();

  HWND Handle() const noexcept { return FHandle; }
  // Idle passes so far (tests wait for one before checking "適用").
  unsigned IdlePassCount() const noexcept { return FIdlePassCount; }
  bool Visible() const;
  // True while the communication test runs (a second click does nothing).
  bool ComPortTestRunning() const noexcept { return FComPortTestRunning; }
  // Child control by id (see the table above), or null.
  HWND Control(int Id) const;

private:
  // The dialog as designed at 96 dpi.
  static constexpr int KClientWidth = 394;
  static constexpr int KClientHeight = 442;
  static const wchar_t KPageClass[];

  static LRESULT CALLBACK PageProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
  static LRESULT CALLBACK HotKeyFieldProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam,
                                          UINT_PTR IdSubclass, DWORD_PTR RefData);
  static void RegisterClasses();
  // True when Wnd is Parent or one of its descendants.
  static bool IsInside(HWND Parent, HWND Wnd);
  LRESULT WindowMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
  bool HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam, LRESULT& Result);
  int Scale(int Value) const;
  // Layout at the dialog's DPI: the window's size for the designed client
  // area, the pages on the tab control's display area, the port list's
  // dropped-down height; and all of it again at a new DPI.
  void SizeWindow();
  void LayoutPages();
  void SizePortList();
  void WMDpiChanged(int Dpi, const RECT& Suggested);
  HWND AddControl(HWND Parent, const wchar_t* ClassName, const wchar_t* Text, DWORD Style, int Id, int X, int Y,
                  int Width, int Height, DWORD ExStyle = 0);
  void CreateControls();
  void ShowPage(int Index);
  bool PreTranslateMessage(const MSG& Msg);
  void KeyTab(bool Backwards);
  void EndModal(int Result);

  // Event handlers.
  void FormShow();
  void FormClose();
  void cmbComPortNumChange();
  void btnComPortTestClick();
  void btnDefaultClick();
  void btnOKClick();
  void btnApplyClick();
  // Focus gained, focus lost and value changed of key field Field (0..9).
  void HotKeyEnter(int Field);
  void HotKeyExit(int Field);
  void HotKeyChange(int Field);
  void HotKeyFocusGained(int Field);
  void HotKeyFocusLost(int Field, HWND NewFocus);

  // Operations.
  void InitGUI();
  bool DoProcess_Apply();
  void DoProcess_Store();
  void DoProcess_CheckChange();
  bool IsDuplicateHotKey() const;
  void ShowStoreError(const std::wstring& Message);

  // A key field's value as the hot-key control holds it (with Ext).
  THotKeyValue GetFieldValue(int Field) const;
  std::array<THotKeyValue, HotKeyCount> FieldValues() const;
  // Puts a value into a field as the program does (filling, defaults,
  // resets), keeping its fallback modifiers and its readable text in step.
  void SetFieldValue(int Field, THotKeyValue Value);
  void ApplyFieldRules(int Field);
  void UpdateFieldText(int Field);
  int FieldCount() const noexcept { return static_cast<int>(FHotKeyFields.size()); }
  // Fields that have a table entry (the smaller of entry and field count).
  int BoundFieldCount() const;
  std::array<bool, EnvCheckBoxCount> CheckBoxStates() const;
  std::array<bool, EnvCheckBoxCount> RecordStates() const;
  std::wstring ComPortText() const;
  int ComPortIndex() const;

  HWND FOwner;
  IEnvSettingsHost& FHost;
  HWND FHandle = nullptr;
  int FDpi = 96;
  TFontHandle FFont;
  // Every control's place and size as designed at 96 dpi, for a new DPI.
  struct TDesignRect {
    HWND Wnd;
    int X, Y, Width, Height;
  };
  std::vector<TDesignRect> FDesignRects;
  HWND FbtnOK = nullptr;
  HWND FbtnCancel = nullptr;
  HWND FbtnApply = nullptr;
  HWND FPages = nullptr;
  std::array<HWND, 2> FPageWindows{};
  std::array<HWND, EnvCheckBoxCount> FCheckBoxes{};
  HWND FcmbComPortNum = nullptr;
  HWND FbtnComPortTest = nullptr;
  std::array<HWND, HotKeyCount> FHotKeyFields{};
  std::array<THotKeyFieldFallback, HotKeyCount> FFallbacks{};

  TComPortTestFunc FComPortTest;
  HKEY FSerialCommRoot = HKEY_LOCAL_MACHINE;
  std::wstring FSerialCommKey = KSerialCommKey;
  int FModalResult = 0;
  bool FModal = false;
  unsigned FIdlePassCount = 0;
  bool FComPortTestRunning = false;
  bool FSettingField = false;  // the program is setting a key field: its change report is not the user's
  int FActiveKeyField = -1;    // key field that has the focus (kept while the focus is outside the dialog)
  HWND FLastFocus = nullptr;   // focused control when the dialog was last deactivated

  // The dialog's own state.
  THotKeyInfoList* FHotKeyInfoList = nullptr;
  TEnvSettings* FEnvSettings = nullptr;
  int32_t FComPortIndex_Old = 0;
  int32_t FComPortIndex_New = 0;
  bool FInitGUIFinished = false;
  std::array<THotKeyValue, HotKeyCount> FHotkeyValueList_Old{};
  THotKeyValue FHotKeyHold = 0;
  bool FStorePending = false;  // the last store was refused: "適用" stays on for a retry
};

} // namespace kav
