// The settings dialog in a test process: real hot-key table and settings
// record on a temporary settings file, a recording host, the message-box seam
// and a stand-in for the communication test. The dialog runs its own modal
// loop; each test hands it a script of steps that a thread timer runs inside
// that loop, one step per tick, and only after the loop has been idle since
// the step before (so "適用" is up to date).
#include "settings/win/frmEnvSettings.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/win/KCL_AppData.h"
#include "common/win/WindowText.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "settings/win/clsEnvSettings.h"
#include "tests/win/support/BoxRecorder.h"
#include "tests/win/support/FileSystem.h"
#include "tests/win/support/HostEnvironment.h"
#include "tests/win/support/KeyInput.h"
#include "tests/win/support/MessagePump.h"
#include "tests/win/support/SettingsHostStub.h"

using namespace kav;
using namespace kavtest;
using Form = TFormEnvSettings;

namespace {

std::wstring ReadIni(const std::wstring& section, const std::wstring& key) {
  wchar_t buf[256] = {};
  GetPrivateProfileStringW(section.c_str(), key.c_str(), L"<none>", buf, 256, SettingsIniFile.c_str());
  return buf;
}

FILETIME WriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA a{};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a);
  return a.ftLastWriteTime;
}

// Runs steps inside the dialog's modal loop, one per timer tick.
class TScript {
public:
  using TStep = std::function<void()>;

  static int Run(Form& form, std::vector<TStep> steps) {
    TScript script{form, std::move(steps)};
    script.FIdleSeen = form.IdlePassCount();
    Current = &script;
    const UINT_PTR timer = SetTimer(nullptr, 0, 15, &TScript::Tick);
    const int result = form.ShowModal();
    KillTimer(nullptr, timer);
    Current = nullptr;
    EXPECT_EQ(script.FNext, script.FSteps.size()) << "the dialog closed before the script ended";
    return result;
  }

private:
  TScript(Form& form, std::vector<TStep> steps) : FForm(form), FSteps(std::move(steps)) {}

  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    TScript* s = Current;
    if (!s || s->FRunning) return;  // a step that pumps messages must not start the next one
    if (s->FForm.IdlePassCount() == s->FIdleSeen) return;  // not idle since the last step
    s->FRunning = true;
    if (s->FNext < s->FSteps.size()) {
      s->FSteps[s->FNext++]();
      s->FIdleSeen = s->FForm.IdlePassCount();
    } else if (++s->FIdleTicks > 100) {
      ADD_FAILURE() << "the script ended but the dialog stayed open";
      s->FForm.Close();
    }
    s->FRunning = false;
  }

  static inline TScript* Current = nullptr;
  Form& FForm;
  std::vector<TStep> FSteps;
  std::size_t FNext = 0;
  bool FRunning = false;
  int FIdleTicks = 0;
  unsigned FIdleSeen = 0;
};

class SettingsDialog : public ::testing::Test {
protected:
  void SetUp() override {
    AppDataFolder = FFolder.Path() + L"\\";
    SettingsIniFile = FFolder / L"KAV90R_HotKeyController.ini";
    ++Counter;
    FPortKey = std::wstring(KPortKeyParent) + L"\\SERIALCOMM_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
               std::to_wstring(Counter);
    FOwner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    // Each box notes whether the dialog was visible while it was open.
    FRecorder.StateAtShow = [this] { return FForm && FForm->Visible(); };
  }

  void TearDown() override {
    FForm.reset();
    if (FList) FList->DoProcess_UnregisterHotKey();
    FList.reset();
    FSettings.reset();
    RegDeleteKeyW(HKEY_CURRENT_USER, FPortKey.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, KPortKeyParent);  // only when no other test's key is left
    DestroyWindow(FOwner);
  }

  // Loads table and record from the file as it is now and creates the dialog.
  void Open() {
    FList = std::make_unique<THotKeyInfoList>(FOwner);
    FSettings = std::make_unique<TEnvSettings>();
    FForm = std::make_unique<Form>(FOwner, FHost);
    FForm->SetEnvSettings(*FList, *FSettings);
    // The system's port list differs from machine to machine: the dialog
    // reads a key of the test's own, empty unless the test adds ports.
    FForm->SetSerialCommKey(HKEY_CURRENT_USER, FPortKey);
  }

  // A port as a driver lists it under SERIALCOMM (in the test's own key).
  void AddSystemPort(const wchar_t* device, const wchar_t* port) const {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, FPortKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, device, 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                   static_cast<DWORD>((wcslen(port) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  std::vector<std::wstring> PortItems() const {
    HWND cmb = C(Form::IDC_CMB_COMPORTNUM);
    std::vector<std::wstring> items;
    wchar_t item[64];
    for (LRESULT i = 0, n = SendMessageW(cmb, CB_GETCOUNT, 0, 0); i < n; ++i) {
      SendMessageW(cmb, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
      items.push_back(item);
    }
    return items;
  }

  // A file as the first showing leaves it, with port COM3.
  void WriteStoredFile(int entries = 10) {
    WritePrivateProfileStringW(L"HotKey", L"ComPort", L"COM3", SettingsIniFile.c_str());
    for (int i = 0; i < entries; ++i) {
      const std::wstring section = L"HotKey" + std::to_wstring(i);
      const std::wstring value = std::to_wstring(DefaultHotKeyValues[static_cast<std::size_t>(i % 10)]);
      WritePrivateProfileStringW(section.c_str(), L"HotKeyDefault", value.c_str(), SettingsIniFile.c_str());
      WritePrivateProfileStringW(section.c_str(), L"HotKey", value.c_str(), SettingsIniFile.c_str());
      WritePrivateProfileStringW(section.c_str(), L"HotKeyFunc", L"x", SettingsIniFile.c_str());
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, SettingsIniFile.c_str());  // flush
  }

  HWND C(int id) const { return FForm->Control(id); }
  HWND Field(int i) const { return C(Form::IDC_HOTKEY_FIRST + i); }
  THotKeyValue Value(int i) const {
    return static_cast<THotKeyValue>(LOWORD(SendMessageW(Field(i), HKM_GETHOTKEY, 0, 0)));
  }
  bool ApplyEnabled() const { return IsWindowEnabled(C(Form::IDC_BTN_APPLY)) != FALSE; }
  void Click(int id) const { SendMessageW(C(id), BM_CLICK, 0, 0); }
  void SelectPort(int index) const {
    HWND cmb = C(Form::IDC_CMB_COMPORTNUM);
    SendMessageW(cmb, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(GetParent(cmb), WM_COMMAND, MAKEWPARAM(Form::IDC_CMB_COMPORTNUM, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(cmb));
  }
  void ShowHotKeyPage() const {
    HWND tab = C(Form::IDC_PAGES);
    SendMessageW(tab, TCM_SETCURSEL, 1, 0);
    NMHDR hdr{tab, static_cast<UINT_PTR>(Form::IDC_PAGES), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(FForm->Handle(), WM_NOTIFY, Form::IDC_PAGES, reinterpret_cast<LPARAM>(&hdr));
  }
  // Key presses as the hot-key control receives them.
  static void Press(HWND field, std::initializer_list<UINT> modifiers, UINT vk) {
    for (UINT m : modifiers) SendMessageW(field, WM_KEYDOWN, m, 0);
    SendMessageW(field, WM_KEYDOWN, vk, 0);
    SendMessageW(field, WM_KEYUP, vk, 0);
    for (UINT m : modifiers) SendMessageW(field, WM_KEYUP, m, 0);
  }

  static inline int Counter = 0;
  static constexpr wchar_t KPortKeyParent[] = L"Software\\KAV90R_HotKeyController_Test";
  TTempDir FFolder{L"kav_settings_dialog_"};
  std::wstring FPortKey;
  HWND FOwner = nullptr;
  TSettingsHostStub FHost;
  TBoxRecorder FRecorder;
  std::vector<TBox>& FBoxes = FRecorder.Boxes;
  std::unique_ptr<THotKeyInfoList> FList;
  std::unique_ptr<TEnvSettings> FSettings;
  std::unique_ptr<Form> FForm;
};

} // namespace

TEST_F(SettingsDialog, WindowAndControlsCarryTheirTexts) {
  WriteStoredFile();
  Open();
  HWND dlg = FForm->Handle();
  EXPECT_FALSE(FForm->Visible());  // created hidden
  EXPECT_EQ(WindowText(dlg), L"環境設定");
  const LONG_PTR style = GetWindowLongPtrW(dlg, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  RECT rc;
  GetClientRect(dlg, &rc);
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  EXPECT_EQ(rc.right, MulDiv(394, dpi, 96));
  EXPECT_EQ(rc.bottom, MulDiv(442, dpi, 96));

  const std::vector<std::pair<int, std::wstring>> texts = {
      {Form::IDC_BTN_OK, L"OK"},
      {Form::IDC_BTN_CANCEL, L"キャンセル"},
      {Form::IDC_BTN_APPLY, L"適用"},
      {Form::IDC_TAB_BASIC, L"基本設定"},
      {Form::IDC_TAB_HOTKEY, L"ホットキー設定"},
      {Form::IDC_GRP_ACTION, L"動作設定"},
      {Form::IDC_CHK_POWERUP_ON_APPSTART, L"起動時、KTX-AV90Rの電源をONにする(&U)"},
      {Form::IDC_CHK_POWERDOWN_OFF_APPSTART, L"終了時、KTX-AV90Rの電源をOFFにする(&D)"},
      {Form::IDC_CHK_HOTKEY_ENABLE_ON_APPSTART, L"起動時、ホットキー制御を有効にする(&C)"},
      {Form::IDC_CHK_POWERUP_ON_HOTKEYCTRL, L"ホットキー制御時、KTX-AV90Rの電源をONにする(&I)"},
      {Form::IDC_CHK_WINDOW_VISIBLE, L"ウィンドウ表示を自動起動する(&W)"},
      {Form::IDC_GRP_COMPORT, L"COMポート設定"},
      {Form::IDC_LBL_COMPORTNUM, L"ポート番号："},
      {Form::IDC_BTN_COMPORTTEST, L"通信テスト(&T)"},
      {Form::IDC_GRP_CTRL, L"制御"},
      {Form::IDC_GRP_CHANNEL, L"入力ソース選択"},
      {Form::IDC_LBL_HOTKEY_FIRST + 0, L"電源制御："},
      {Form::IDC_LBL_HOTKEY_FIRST + 1, L"ブラックアウト："},
      {Form::IDC_LBL_HOTKEY_FIRST + 2, L"入力1："},
      {Form::IDC_LBL_HOTKEY_FIRST + 9, L"入力8："},
      {Form::IDC_BTN_DEFAULT, L"デフォルト"},
  };
  for (const auto& [id, text] : texts) {
    ASSERT_NE(C(id), nullptr) << id;
    EXPECT_EQ(WindowText(C(id)), text) << id;
  }
  for (int i = 0; i < 10; ++i) {
    wchar_t cls[64] = {};
    GetClassNameW(Field(i), cls, 64);
    EXPECT_STREQ(cls, L"msctls_hotkey32");
  }
  // Selection-only list.
  EXPECT_EQ(GetWindowLongPtrW(C(Form::IDC_CMB_COMPORTNUM), GWL_STYLE) & 3, CBS_DROPDOWNLIST);

  // Tab order: OK, キャンセル, (適用 is disabled), the page control, then the
  // page. Each step posts Tab; the dialog's loop moves the focus before the next.
  std::vector<std::wstring> tabOrder;
  std::vector<TScript::TStep> steps = {[&] {
    EXPECT_TRUE(IsWindowVisible(C(Form::IDC_TAB_BASIC)));
    EXPECT_FALSE(IsWindowVisible(C(Form::IDC_TAB_HOTKEY)));
    HWND cmb = C(Form::IDC_CMB_COMPORTNUM);
    ASSERT_EQ(SendMessageW(cmb, CB_GETCOUNT, 0, 0), 21);
    wchar_t item[64];
    SendMessageW(cmb, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, L"選択してください");
    SendMessageW(cmb, CB_GETLBTEXT, 20, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, L"COM20");
    EXPECT_EQ(SendMessageW(cmb, CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(WindowText(cmb), L"COM3");
    EXPECT_EQ(WindowText(Field(0)), L"Ctrl + M");
    EXPECT_EQ(WindowText(Field(9)), L"F8");
  }};
  for (int i = 0; i < 11; ++i) {
    steps.push_back([&] {
      HWND focus = GetFocus();
      tabOrder.push_back(focus == C(Form::IDC_PAGES) ? L"<tabs>" : WindowText(focus));
      PostMessageW(focus, WM_KEYDOWN, VK_TAB, 0);
    });
  }
  steps.push_back([&] { Click(Form::IDC_BTN_CANCEL); });
  EXPECT_EQ(TScript::Run(*FForm, steps), IDCANCEL);
  const std::vector<std::wstring> expected = {
      L"OK", L"キャンセル", L"<tabs>",
      L"起動時、KTX-AV90Rの電源をONにする(&U)", L"終了時、KTX-AV90Rの電源をOFFにする(&D)",
      L"起動時、ホットキー制御を有効にする(&C)", L"ホットキー制御時、KTX-AV90Rの電源をONにする(&I)",
      L"ウィンドウ表示を自動起動する(&W)", L"COM3", L"通信テスト(&T)", L"OK"};
  EXPECT_EQ(tabOrder, expected);
  EXPECT_EQ(FHost.Calls, std::vector<HWND>{FForm->Handle()});
}

TEST_F(SettingsDialog, FirstShowingStoresDefaultsAndOkStoresThePort) {
  Open();  // no file: empty table, no port
  ASSERT_EQ(FList->Count(), 0);
  const int result = TScript::Run(*FForm, {
      [&] {
        // Showing wrote the record and the ten default keys at once.
        EXPECT_EQ(ReadIni(L"HotKey", L"ComPort"), L"");
        EXPECT_EQ(ReadIni(L"HotKey", L"HotKeyEnableOnAppStart"), L"1");
        EXPECT_EQ(ReadIni(L"HotKey0", L"HotKey"), L"589");
        EXPECT_EQ(ReadIni(L"HotKey0", L"HotKeyFunc"), L"電源制御");
        EXPECT_EQ(ReadIni(L"HotKey1", L"HotKey"), L"578");
        EXPECT_EQ(ReadIni(L"HotKey1", L"HotKeyFunc"), L"ブラックアウト");
        EXPECT_EQ(ReadIni(L"HotKey9", L"HotKey"), L"119");
        EXPECT_EQ(ReadIni(L"HotKey9", L"HotKeyFunc"), L"入力8");
        EXPECT_EQ(FList->Count(), 10);
        EXPECT_EQ(SendMessageW(C(Form::IDC_CMB_COMPORTNUM), CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_FALSE(ApplyEnabled());
        SelectPort(5);
      },
      [&] {
        EXPECT_TRUE(ApplyEnabled());
        Click(Form::IDC_BTN_OK);
      },
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_FALSE(FForm->Visible());
  EXPECT_EQ(ReadIni(L"HotKey", L"ComPort"), L"COM5");
  EXPECT_EQ(FSettings->ComPort(), L"COM5");
  // The question after closing is asked with the dialog as owner, before it hides.
  EXPECT_EQ(FHost.Calls, std::vector<HWND>{FForm->Handle()});
  EXPECT_TRUE(FHost.VisibleAtCall);
  EXPECT_TRUE(FBoxes.empty());
}

TEST_F(SettingsDialog, EnteringAndLeavingAKeyFieldRestoresIt) {
  WriteStoredFile();
  Open();
  TScript::Run(*FForm, {
      [&] {
        EXPECT_FALSE(ApplyEnabled());
        ShowHotKeyPage();
        EXPECT_TRUE(IsWindowVisible(C(Form::IDC_TAB_HOTKEY)));
        SetFocus(Field(2));
        EXPECT_EQ(Value(2), HotKeyPlaceholder);
        EXPECT_EQ(WindowText(Field(2)), L"Pause");
      },
      [&] {
        EXPECT_TRUE(ApplyEnabled());  // the placeholder differs from F1
        SetFocus(Field(0));           // F1 comes back, power field waits
        EXPECT_EQ(Value(2), 0x0070);
        EXPECT_EQ(Value(0), HotKeyPlaceholder);
      },
      [&] {
        EXPECT_TRUE(ApplyEnabled());
        SetFocus(C(Form::IDC_BTN_DEFAULT));
        EXPECT_EQ(Value(0), 0x024D);
        EXPECT_EQ(WindowText(Field(0)), L"Ctrl + M");
      },
      [&] {
        EXPECT_FALSE(ApplyEnabled());
        // Focus going to another window (a message box) is no leaving.
        SetFocus(Field(3));
        SetFocus(FOwner);
        EXPECT_EQ(Value(3), HotKeyPlaceholder);
        SetFocus(Field(3));
        EXPECT_EQ(Value(3), HotKeyPlaceholder);
        SetFocus(C(Form::IDC_BTN_DEFAULT));
        EXPECT_EQ(Value(3), 0x0071);
        Click(Form::IDC_BTN_CANCEL);
      },
  });
  EXPECT_EQ(ReadIni(L"HotKey2", L"HotKey"), L"112");
}

TEST_F(SettingsDialog, KeyFieldRules) {
  WriteStoredFile();
  WritePrivateProfileStringW(L"HotKey1", L"HotKey", L"120", SettingsIniFile.c_str());  // blackout: bare F9
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, SettingsIniFile.c_str());
  Open();
  TScript::Run(*FForm, {
      [&] {
        ShowHotKeyPage();
        HWND f = Field(2);
        SetFocus(f);
        Press(f, {VK_CONTROL}, VK_PAUSE);
        EXPECT_EQ(Value(2), HotKeyPlaceholder) << "Ctrl+Pause";
        Press(f, {VK_CONTROL}, VK_CANCEL);
        EXPECT_EQ(Value(2), HotKeyPlaceholder) << "Ctrl+Break";
        Press(f, {}, 0xE5);
        EXPECT_EQ(Value(2), HotKeyPlaceholder) << "input-method process key";
        // Shift alone is no value (this control drops the value while a
        // modifier is held alone; others report the modifier, which is reset).
        SendMessageW(f, WM_KEYDOWN, VK_SHIFT, 0);
        EXPECT_TRUE(Value(2) == 0 || Value(2) == HotKeyPlaceholder) << Value(2);
        SendMessageW(f, WM_KEYUP, VK_SHIFT, 0);
        Press(f, {VK_SHIFT}, VK_F9);
        EXPECT_EQ(Value(2), 0x0178);
        EXPECT_EQ(WindowText(f), L"Shift + F9");
        SetFocus(C(Form::IDC_BTN_DEFAULT));
        EXPECT_EQ(Value(2), 0x0178);  // a real key stays
      },
      [&] {
        // Fallback modifiers: the power field showed Ctrl+M, so after gaining
        // the focus a bare key is taken as it is.
        SetFocus(Field(0));
        Press(Field(0), {}, 'N');
        EXPECT_EQ(Value(0), 0x004E);
        // The blackout field showed a bare key and keeps its fallback Ctrl.
        SetFocus(Field(1));
        Press(Field(1), {}, 'N');
        EXPECT_EQ(Value(1), 0x024E);
        // An input field has no fallback.
        SetFocus(Field(3));
        Press(Field(3), {}, 'K');
        EXPECT_EQ(Value(3), 0x004B);
        SetFocus(C(Form::IDC_BTN_DEFAULT));
      },
      [&] {
        EXPECT_TRUE(ApplyEnabled());
        // "デフォルト" puts back the ten defaults, and "適用" goes grey again.
        Click(Form::IDC_BTN_DEFAULT);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(Value(i), DefaultHotKeyValues[static_cast<std::size_t>(i)]) << i;
      },
      [&] {
        EXPECT_TRUE(ApplyEnabled());  // the blackout entry was F9, now Ctrl+B
        Click(Form::IDC_BTN_CANCEL);
      },
  });
  // Cancel stores nothing.
  EXPECT_EQ(ReadIni(L"HotKey1", L"HotKey"), L"120");
  EXPECT_EQ(ReadIni(L"HotKey2", L"HotKey"), L"112");
  EXPECT_EQ((*FList)[1].HotKey(), 120);
  EXPECT_EQ(FHost.Calls.size(), 1u);
}

// Real keyboard input: a modifier held alone never becomes a value, whatever
// the control reports for it; the key pressed with it then counts.
TEST_F(SettingsDialog, ModifierHeldAloneShowsThePlaceholder) {
  WriteStoredFile();
  Open();
  TScript::Run(*FForm, {
      [&] {
        ShowHotKeyPage();
        SetForegroundWindow(FForm->Handle());
        SetFocus(Field(2));
        KeyDown(VK_CONTROL);
      },
      [&] {
        EXPECT_EQ(Value(2), HotKeyPlaceholder);
        KeyDown('M');
        KeyUp('M');
      },
      [&] {
        EXPECT_EQ(Value(2), 0x024D);
        KeyUp(VK_CONTROL);
      },
      [&] {
        EXPECT_EQ(Value(2), 0x024D);
        KeyDown(VK_SHIFT);
        KeyUp(VK_SHIFT);
      },
      [&] {
        // Shift pressed and released alone: the placeholder, so leaving the
        // field brings back what it held when it gained the focus.
        EXPECT_EQ(Value(2), HotKeyPlaceholder);
        SetFocus(C(Form::IDC_BTN_DEFAULT));
        EXPECT_EQ(Value(2), 0x0070);
        Click(Form::IDC_BTN_CANCEL);
      },
  });
}

TEST_F(SettingsDialog, DuplicateKeysKeepTheDialogOpen) {
  WriteStoredFile();
  Open();
  const std::string before = ReadBytes(SettingsIniFile);
  TScript::Run(*FForm, {
      [&] {
        ShowHotKeyPage();
        SetFocus(Field(9));
        Press(Field(9), {VK_CONTROL}, 'M');  // same as the power field
        SetFocus(C(Form::IDC_BTN_OK));
      },
      [&] {
        Click(Form::IDC_BTN_OK);
        ASSERT_EQ(FBoxes.size(), 1u);
        ExpectBox(FBoxes[0], FForm->Handle(), L"重複するホットキーの設定はできません。", L"エラー", MB_OK | MB_ICONERROR);
        EXPECT_EQ(Value(9), 0x024D);  // the user's values stay
      },
      [&] {
        EXPECT_TRUE(FForm->Visible());
        // Differing only in the Ext flag is the same combination.
        SendMessageW(Field(9), HKM_SETHOTKEY, 0x0024, 0);
        SendMessageW(Field(8), HKM_SETHOTKEY, 0x0824, 0);
        Click(Form::IDC_BTN_APPLY);
        EXPECT_EQ(FBoxes.size(), 2u);
        // Two fields without a key are no duplicates.
        SendMessageW(Field(9), HKM_SETHOTKEY, 0, 0);
        SendMessageW(Field(8), HKM_SETHOTKEY, 0, 0);
        Click(Form::IDC_BTN_APPLY);
        EXPECT_EQ(FBoxes.size(), 2u);
        Click(Form::IDC_BTN_CANCEL);
      },
  });
  EXPECT_NE(ReadBytes(SettingsIniFile), before);
  EXPECT_EQ(ReadIni(L"HotKey8", L"HotKey"), L"0");
  EXPECT_EQ(ReadIni(L"HotKey9", L"HotKey"), L"0");
}

TEST_F(SettingsDialog, OkWithoutChangesWritesNothing) {
  WriteStoredFile();
  Open();
  const std::string before = ReadBytes(SettingsIniFile);
  const FILETIME stamp = WriteTime(SettingsIniFile);
  Sleep(50);
  const int result = TScript::Run(*FForm, {
      [&] { EXPECT_FALSE(ApplyEnabled()); },
      [&] { Click(Form::IDC_BTN_OK); },
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(ReadBytes(SettingsIniFile), before);
  const FILETIME after = WriteTime(SettingsIniFile);
  EXPECT_EQ(CompareFileTime(&stamp, &after), 0);
  // The table was not rebuilt either.
  EXPECT_EQ((*FList)[0].HotKeyFunc(), L"x");
}

TEST_F(SettingsDialog, ApplyStoresRecordAndTable) {
  WriteStoredFile();
  Open();
  TScript::Run(*FForm, {
      [&] {
        Click(Form::IDC_CHK_POWERUP_ON_APPSTART);
        Click(Form::IDC_CHK_WINDOW_VISIBLE);
        ShowHotKeyPage();
        SetFocus(Field(4));
        Press(Field(4), {VK_MENU, VK_CONTROL}, 'A');
        SetFocus(C(Form::IDC_BTN_APPLY));
      },
      [&] {
        EXPECT_TRUE(ApplyEnabled());
        Click(Form::IDC_BTN_APPLY);
        EXPECT_TRUE(FForm->Visible());  // Apply keeps the dialog open
        EXPECT_FALSE(ApplyEnabled());
        EXPECT_EQ(ReadIni(L"HotKey", L"PowerUpOnAppStart"), L"1");
        EXPECT_EQ(ReadIni(L"HotKey", L"WindowVisible"), L"0");
        EXPECT_EQ(ReadIni(L"HotKey", L"ComPort"), L"COM3");
        EXPECT_EQ(ReadIni(L"HotKey4", L"HotKey"), L"1601");  // Alt + Ctrl + A
        EXPECT_EQ(ReadIni(L"HotKey4", L"HotKeyFunc"), L"入力3");
        EXPECT_EQ(ReadIni(L"HotKey0", L"HotKeyFunc"), L"電源制御");
        EXPECT_EQ(ReadIni(L"HotKey4", L"HotKeyDefault"), L"114");  // kept as it was
        EXPECT_EQ((*FList)[4].HotKeyText(), L"Alt + Ctrl + A");
        EXPECT_FALSE((*FList)[4].Registered());  // the dialog never registers
      },
      [&] {
        EXPECT_FALSE(ApplyEnabled());
        // "選択してください" + OK stores an empty port.
        SelectPort(0);
      },
      [&] {
        EXPECT_TRUE(ApplyEnabled());
        Click(Form::IDC_BTN_OK);
      },
  });
  EXPECT_EQ(ReadIni(L"HotKey", L"ComPort"), L"");
  EXPECT_EQ(FSettings->ComPort(), L"");
}

// Ports above COM20 that the system has, then a stored port it lacks, are
// listed; an edit elsewhere keeps the stored port, and so does OK with
// nothing selected.
TEST_F(SettingsDialog, PortListHoldsSystemAndStoredPortsAndKeepsTheStoredOne) {
  WriteStoredFile();
  WritePrivateProfileStringW(L"HotKey", L"ComPort", L"COM23", SettingsIniFile.c_str());
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, SettingsIniFile.c_str());
  AddSystemPort(L"\\Device\\Serial0", L"COM1");
  AddSystemPort(L"\\Device\\VCP1", L"COM34");
  AddSystemPort(L"\\Device\\VCP0", L"COM21");
  Open();
  const std::vector<std::wstring> tail = {L"COM21", L"COM34", L"COM23"};
  const TScript::TStep pressOk = [&] {
    EXPECT_TRUE(ApplyEnabled());
    Click(Form::IDC_BTN_OK);
  };
  TScript::Run(*FForm, {
      [&] {
        const auto items = PortItems();
        ASSERT_EQ(items.size(), 24u);
        EXPECT_EQ(items[1], L"COM1");
        EXPECT_EQ(items[20], L"COM20");
        EXPECT_EQ(std::vector<std::wstring>(items.begin() + 21, items.end()), tail);
        EXPECT_EQ(SendMessageW(C(Form::IDC_CMB_COMPORTNUM), CB_GETCURSEL, 0, 0), 23);
        EXPECT_FALSE(ApplyEnabled());
        Click(Form::IDC_CHK_POWERDOWN_OFF_APPSTART);
      },
      pressOk,
  });
  EXPECT_EQ(ReadIni(L"HotKey", L"PowerDownOffAppStart"), L"1");
  EXPECT_EQ(ReadIni(L"HotKey", L"ComPort"), L"COM23");
  EXPECT_EQ(FSettings->ComPort(), L"COM23");

  // No selection (only a program can leave a drop-down list so) is no choice.
  TScript::Run(*FForm, {
      [&] {
        EXPECT_EQ(PortItems().size(), 24u);  // filled afresh, nothing doubled
        SelectPort(-1);
        Click(Form::IDC_CHK_POWERDOWN_OFF_APPSTART);
      },
      pressOk,
  });
  EXPECT_EQ(ReadIni(L"HotKey", L"PowerDownOffAppStart"), L"0");
  EXPECT_EQ(ReadIni(L"HotKey", L"ComPort"), L"COM23");

  // Without a key of its own the dialog reads the system's SERIALCOMM key.
  HKEY system = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, KSerialCommKey, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_SET_VALUE, nullptr, &system, &disposition),
            ERROR_SUCCESS);
  const wchar_t port[] = L"COM57";
  RegSetValueExW(system, L"\\Device\\KavTestPort", 0, REG_SZ, reinterpret_cast<const BYTE*>(port), sizeof port);
  Form plain(FOwner, FHost);
  plain.SetEnvSettings(*FList, *FSettings);
  TScript::Run(plain, {[&] {
    HWND cmb = plain.Control(Form::IDC_CMB_COMPORTNUM);
    EXPECT_GE(SendMessageW(cmb, CB_FINDSTRINGEXACT, 20, reinterpret_cast<LPARAM>(port)), 21);
    SendMessageW(plain.Control(Form::IDC_BTN_CANCEL), BM_CLICK, 0, 0);
  }});
  RegDeleteValueW(system, L"\\Device\\KavTestPort");
  RegCloseKey(system);
  if (disposition == REG_CREATED_NEW_KEY) RegDeleteKeyW(HKEY_LOCAL_MACHINE, KSerialCommKey);
}

TEST_F(SettingsDialog, RefusedWriteIsShownAndTheDialogStaysOpen) {
  WriteStoredFile();
  Open();
  std::unique_ptr<THeldFile> lock;
  TScript::Run(*FForm, {
      [&] {
        // Another program holds the file exclusively: every write is refused.
        lock = std::make_unique<THeldFile>(SettingsIniFile);
        ASSERT_TRUE(lock->Held());
        SelectPort(7);
      },
      [&] {
        Click(Form::IDC_BTN_OK);
        ASSERT_EQ(FBoxes.size(), 1u);
        EXPECT_EQ(FBoxes[0].Text, SettingsIniFile + L" に書き込めません");
        EXPECT_EQ(FBoxes[0].Owner, FForm->Handle());
        EXPECT_TRUE(FForm->Visible());
      },
      [&] {
        EXPECT_TRUE(ApplyEnabled());  // still something to store
        lock.reset();
        Click(Form::IDC_BTN_OK);
      },
  });
  lock.reset();
  EXPECT_FALSE(FForm->Visible());
  EXPECT_EQ(ReadIni(L"HotKey", L"ComPort"), L"COM7");
}

TEST_F(SettingsDialog, CommunicationTest) {
  WriteStoredFile();
  Open();
  std::vector<std::wstring> tested;
  bool answer = true;
  int nestedClicks = 0;
  bool hourglass = false;
  FForm->SetComPortTestFunc([&](const std::wstring& port) {
    tested.push_back(port);
    hourglass = GetCursor() == LoadCursorW(nullptr, IDC_WAIT);
    if (!answer) {
      // Like the device link's wait: messages are handled meanwhile, so a
      // second click arrives inside the test.
      PostMessageW(C(Form::IDC_BTN_COMPORTTEST), BM_CLICK, 0, 0);
      ++nestedClicks;
      PumpFor(200);
      EXPECT_TRUE(FForm->ComPortTestRunning());
    }
    return answer;
  });
  TScript::Run(*FForm, {
      [&] {
        Click(Form::IDC_BTN_COMPORTTEST);  // COM3 stored
        ASSERT_EQ(FBoxes.size(), 1u);
        ExpectBox(FBoxes[0], FForm->Handle(), L"KTX-AV90Rとの通信テストに成功しました。", L"情報",
                  MB_OK | MB_ICONINFORMATION);
        EXPECT_TRUE(hourglass);
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
      },
      [&] {
        answer = false;
        SelectPort(12);
        Click(Form::IDC_BTN_COMPORTTEST);
        ASSERT_EQ(FBoxes.size(), 2u);
        EXPECT_EQ(FBoxes[1].Text,
                  L"KTX-AV90Rとの通信テストに失敗しました。\r\n次の項目を確認してください。\r\n\r\n"
                  L"１．KTX-AV90Rの電源(ONにしてください)\r\n２．COMポートの番号\r\n３．KTX-AV90Rとのケーブル接続");
        EXPECT_EQ(FBoxes[1].Caption, L"エラー");
        EXPECT_EQ(FBoxes[1].Flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
        EXPECT_FALSE(FForm->ComPortTestRunning());
      },
      [&] {
        SelectPort(0);
        Click(Form::IDC_BTN_COMPORTTEST);
        ASSERT_EQ(FBoxes.size(), 3u);
        EXPECT_EQ(FBoxes[2].Text, L"KTX-AV90Rと接続しているCOMポートを選択してください。");
        EXPECT_EQ(FBoxes[2].Caption, L"情報");
        EXPECT_EQ(FBoxes[2].Flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
        Click(Form::IDC_BTN_CANCEL);
      },
  });
  // The nested click did not start a second test.
  EXPECT_EQ(nestedClicks, 1);
  EXPECT_EQ(tested, (std::vector<std::wstring>{L"COM3", L"COM12"}));
  // The test changes neither record nor file.
  EXPECT_EQ(FSettings->ComPort(), L"COM3");
  EXPECT_EQ(ReadIni(L"HotKey", L"ComPort"), L"COM3");
}

TEST_F(SettingsDialog, ShortTableIsFilledAsFarAsItGoesAndStoredInFull) {
  WriteStoredFile(3);
  Open();
  ASSERT_EQ(FList->Count(), 3);
  TScript::Run(*FForm, {
      [&] {
        EXPECT_FALSE(ApplyEnabled());
        // Fields without an entry are not compared, not reset by the defaults.
        SendMessageW(Field(6), HKM_SETHOTKEY, 0x0241, 0);
        EXPECT_FALSE(ApplyEnabled());
      },
      [&] {
        EXPECT_FALSE(ApplyEnabled());
        Click(Form::IDC_BTN_DEFAULT);
        EXPECT_EQ(Value(6), 0x0241);
        Click(Form::IDC_CHK_POWERDOWN_OFF_APPSTART);
      },
      [&] {
        EXPECT_TRUE(ApplyEnabled());
        Click(Form::IDC_BTN_OK);
      },
  });
  EXPECT_EQ(FList->Count(), 10);
  EXPECT_EQ(ReadIni(L"HotKey9", L"HotKeyFunc"), L"入力8");
  EXPECT_EQ(ReadIni(L"HotKey6", L"HotKey"), L"577");
}

TEST_F(SettingsDialog, CloseBoxAndEscapeCancel) {
  WriteStoredFile();
  Open();
  EXPECT_EQ(TScript::Run(*FForm, {[&] { PostMessageW(FForm->Handle(), WM_CLOSE, 0, 0); }}), IDCANCEL);
  EXPECT_EQ(TScript::Run(*FForm, {[&] { PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0); }}), IDCANCEL);
  // Enter and Ctrl+Break in a key field neither commit nor close.
  int result = TScript::Run(*FForm, {
      [&] {
        Click(Form::IDC_CHK_POWERUP_ON_APPSTART);
        ShowHotKeyPage();
        SetFocus(Field(5));
        PostMessageW(Field(5), WM_KEYDOWN, VK_RETURN, 0);
      },
      [&] {
        EXPECT_TRUE(FForm->Visible());
        EXPECT_EQ(Value(5), HotKeyPlaceholder);
        // Ctrl+Break (VK_CANCEL) in a key field is a key, not Escape.
        PostMessageW(Field(5), WM_KEYDOWN, VK_CANCEL, 0);
        PostMessageW(Field(5), WM_KEYUP, VK_CANCEL, 0);
      },
      [&] {
        EXPECT_TRUE(FForm->Visible());
        EXPECT_EQ(Value(5), HotKeyPlaceholder);
        Click(Form::IDC_BTN_CANCEL);
      },
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(FHost.Calls.size(), 3u);
  EXPECT_EQ(ReadIni(L"HotKey", L"PowerUpOnAppStart"), L"<none>");
}

namespace {

// What the screen shows of a window, one 0x00RRGGBB value a pixel, top row first.
struct TCapture {
  int Width = 0, Height = 0;
  std::vector<DWORD> Pixels;

  DWORD At(int x, int y) const { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
  // Pixels inside R (window coordinates) dark enough to be text on a button face.
  int DarkPixels(const RECT& r) const {
    int n = 0;
    for (int y = std::max(0, int(r.top)); y < std::min(Height, int(r.bottom)); ++y)
      for (int x = std::max(0, int(r.left)); x < std::min(Width, int(r.right)); ++x) {
        const DWORD p = At(x, y);
        if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 96) ++n;
      }
    return n;
  }
  // Pixels inside R that differ from Other's.
  int DifferingPixels(const TCapture& Other, const RECT& r) const {
    int n = 0;
    for (int y = std::max(0, int(r.top)); y < std::min(Height, int(r.bottom)); ++y)
      for (int x = std::max(0, int(r.left)); x < std::min(Width, int(r.right)); ++x) n += At(x, y) != Other.At(x, y);
    return n;
  }
};

TCapture CaptureWindow(HWND wnd) {
  RECT rc;
  GetWindowRect(wnd, &rc);
  TCapture c{rc.right - rc.left, rc.bottom - rc.top, {}};
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), c.Width, -c.Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp && bits) {
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, c.Width, c.Height, screen, rc.left, rc.top, SRCCOPY);
    GdiFlush();
    SelectObject(mem, old);
    const auto* p = static_cast<const DWORD*>(bits);
    c.Pixels.assign(p, p + static_cast<std::size_t>(c.Width) * c.Height);
    for (auto& px : c.Pixels) px &= 0xFFFFFF;
  }
  if (bmp) DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return c;
}

// Writes a capture as a 32-bit BMP file for people to look at.
bool SaveBitmap(const TCapture& c, const std::wstring& path) {
  BITMAPINFOHEADER ih{sizeof(BITMAPINFOHEADER), c.Width, -c.Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  const DWORD size = static_cast<DWORD>(c.Pixels.size() * sizeof(DWORD));
  BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(sizeof fh + sizeof ih + size), 0, 0, sizeof fh + sizeof ih};
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const bool ok = WriteFile(f, &fh, sizeof fh, &put, nullptr) && WriteFile(f, &ih, sizeof ih, &put, nullptr) &&
                  WriteFile(f, c.Pixels.data(), size, &put, nullptr) && put == size;
  CloseHandle(f);
  return ok;
}

// R of a control in the coordinates of window Wnd's capture.
RECT RectIn(HWND wnd, HWND control) {
  RECT w, r;
  GetWindowRect(wnd, &w);
  GetWindowRect(control, &r);
  OffsetRect(&r, -w.left, -w.top);
  return r;
}

std::wstring BinaryDirFile(const wchar_t* name) { return WinePath(KAV_BINARY_DIR) + L"\\" + name; }

} // namespace

// Both pages as a person sees them: settings_dialog_basic.bmp and
// settings_dialog_hotkeys.bmp in the build folder. Each capture is the
// dialog's size, is drawn (text where its controls stand), and turning the
// page changes the page and nothing below it.
TEST_F(SettingsDialog, ScreenshotsOfBothPages) {
  WriteStoredFile();
  Open();
  TCapture basic, hotkeys;
  const auto redraw = [&] {
    RedrawWindow(FForm->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  };
  TScript::Run(*FForm, {
      redraw,
      [&] { basic = CaptureWindow(FForm->Handle()); },
      [&] {
        ShowHotKeyPage();
        redraw();
      },
      [&] { hotkeys = CaptureWindow(FForm->Handle()); },
      [&] { Click(Form::IDC_BTN_CANCEL); },
  });
  EXPECT_TRUE(SaveBitmap(basic, BinaryDirFile(L"settings_dialog_basic.bmp")));
  EXPECT_TRUE(SaveBitmap(hotkeys, BinaryDirFile(L"settings_dialog_hotkeys.bmp")));

  HWND dlg = FForm->Handle();
  RECT wr;
  GetWindowRect(dlg, &wr);
  for (const TCapture* c : {&basic, &hotkeys}) {
    EXPECT_EQ(c->Width, wr.right - wr.left);
    EXPECT_EQ(c->Height, wr.bottom - wr.top);
    ASSERT_EQ(c->Pixels.size(), static_cast<std::size_t>(c->Width) * c->Height) << "nothing captured";
    // A drawn dialog, not one colour: face, frame, text.
    EXPECT_GE(std::set<DWORD>(c->Pixels.begin(), c->Pixels.end()).size(), 4u);
    EXPECT_GT(c->DarkPixels(RectIn(dlg, C(Form::IDC_BTN_OK))), 10) << "OK without its text";
  }
  // Each page by its controls: the check boxes' text on the first, the key
  // fields' labels and values on the second.
  EXPECT_GT(basic.DarkPixels(RectIn(dlg, C(Form::IDC_CHK_POWERUP_ON_APPSTART))), 30);
  EXPECT_GT(basic.DarkPixels(RectIn(dlg, C(Form::IDC_CMB_COMPORTNUM))), 10);  // "COM3"
  EXPECT_GT(hotkeys.DarkPixels(RectIn(dlg, C(Form::IDC_LBL_HOTKEY_FIRST))), 30);
  EXPECT_GT(hotkeys.DarkPixels(RectIn(dlg, Field(0))), 10);  // "Ctrl + M"
  // Turning the page redraws the page area and leaves the buttons below it.
  const RECT page = RectIn(dlg, C(Form::IDC_TAB_HOTKEY));
  const int pageArea = (page.right - page.left) * (page.bottom - page.top);
  EXPECT_GT(hotkeys.DifferingPixels(basic, page), pageArea / 50);
  RECT buttons = RectIn(dlg, C(Form::IDC_BTN_OK));
  const RECT apply = RectIn(dlg, C(Form::IDC_BTN_APPLY));
  UnionRect(&buttons, &buttons, &apply);
  EXPECT_EQ(hotkeys.DifferingPixels(basic, buttons), 0);
}
