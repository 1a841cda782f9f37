// Registration of the hot-key table with the system: real windows, real
// global atoms, key presses injected with SendInput.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/win/KCL_AppData.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "tests/win/support/BoxRecorder.h"
#include "tests/win/support/FileSystem.h"
#include "tests/win/support/HotKeyTable.h"
#include "tests/win/support/KeyInput.h"
#include "tests/win/support/MessagePump.h"

using namespace kav;
using namespace kavtest;

namespace {

// A plain top-level window that records the hot-key messages it receives.
class TTestWindow {
public:
  TTestWindow() {
    static const ATOM cls = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = &TTestWindow::Proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"HotKeyTestWindow";
      return RegisterClassW(&wc);
    }();
    (void)cls;
    FHandle = CreateWindowW(L"HotKeyTestWindow", L"hot-key test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~TTestWindow() { DestroyWindow(FHandle); }
  HWND Handle() const { return FHandle; }

  struct THit {
    WPARAM Id;
    LPARAM Param;
  };
  std::vector<THit> Hits;

private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TTestWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_HOTKEY && self != nullptr) self->Hits.push_back({wParam, lParam});
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  HWND FHandle = nullptr;
};

// Presses and releases the combination of a hot-key value, as a person would.
void Press(THotKeyValue value) {
  const BYTE flags = HotKeyFlags(value);
  const bool ext = (flags & HotKeyFlagExt) != 0;
  if (flags & HotKeyFlagAlt) KeyDown(VK_MENU);
  if (flags & HotKeyFlagControl) KeyDown(VK_CONTROL);
  if (flags & HotKeyFlagShift) KeyDown(VK_SHIFT);
  KeyDown(HotKeyKeyCode(value), ext);
  KeyUp(HotKeyKeyCode(value), ext);
  if (flags & HotKeyFlagShift) KeyUp(VK_SHIFT);
  if (flags & HotKeyFlagControl) KeyUp(VK_CONTROL);
  if (flags & HotKeyFlagAlt) KeyUp(VK_MENU);
}

std::wstring AtomName(int id) {
  wchar_t name[64] = {};
  const UINT n = GlobalGetAtomNameW(static_cast<ATOM>(id), name, 64);
  return std::wstring(name, n);
}

class HotKeyRegister : public ::testing::Test {
protected:
  void SetUp() override {
    // The table loads on creation and saves on destruction: give it a file of its own.
    SettingsIniFile = FFolder / L"test.ini";
    // Nothing from an earlier test may hold our atoms.
    for (int i = 0; i < 10; ++i) ASSERT_EQ(GlobalFindAtomW(HotKeyAtomName(i).c_str()), 0) << i;
  }

  TTempDir FFolder{L"kav_hotkeys_register "};
  TBoxRecorder Recorder;
  std::vector<TBox>& Boxes = Recorder.Boxes;
};

} // namespace

TEST_F(HotKeyRegister, TenDefaultsRegisterAndEachKeyBringsItsAtom) {
  TTestWindow window;
  THotKeyInfoList list(window.Handle());
  ASSERT_EQ(list.Count(), 0);
  AddDefaultHotKeys(list);
  EXPECT_EQ(list.Handle(), window.Handle());
  EXPECT_EQ(list[0].HotKeyFuncAndText(), L"電源制御（Ctrl + M）");
  EXPECT_EQ(list[9].HotKeyText(), L"F8");

  list.DoProcess_RegisterHotKey();
  EXPECT_TRUE(Boxes.empty());
  for (int i = 0; i < 10; ++i) {
    const THotKeyInfo& item = list[i];
    EXPECT_TRUE(item.Registered()) << i;
    EXPECT_GE(item.HotKeyID(), 0xC000) << i;
    EXPECT_LE(item.HotKeyID(), 0xFFFF) << i;
    EXPECT_EQ(AtomName(item.HotKeyID()), HotKeyAtomName(i)) << i;
  }

  for (int i = 0; i < 10; ++i) {
    window.Hits.clear();
    Press(list[i].HotKey());
    PumpUntil([&] { return !window.Hits.empty(); }, 2000);
    ASSERT_EQ(window.Hits.size(), 1u) << i;
    EXPECT_EQ(window.Hits[0].Id, static_cast<WPARAM>(list[i].HotKeyID())) << i;
    EXPECT_EQ(HIWORD(window.Hits[0].Param), HotKeyKeyCode(list[i].HotKey())) << i;
    EXPECT_EQ(LOWORD(window.Hits[0].Param) & 7, i < 2 ? MOD_CONTROL : 0) << i;
  }

  const int firstId = list[0].HotKeyID();
  list.DoProcess_UnregisterHotKey();
  for (int i = 0; i < 10; ++i) {
    EXPECT_FALSE(list[i].Registered()) << i;
    EXPECT_FALSE(list[i].HoldsAtom()) << i;
    EXPECT_EQ(GlobalFindAtomW(HotKeyAtomName(i).c_str()), 0) << i;
  }
  // The identifier is kept after unregistering.
  EXPECT_EQ(list[0].HotKeyID(), firstId);
  window.Hits.clear();
  Press(list[0].HotKey());
  PumpFor(300);
  EXPECT_TRUE(window.Hits.empty());
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(HotKeyRegister, TakenCombinationGivesOneBoxAndThePassGoesOn) {
  TTestWindow other;
  ASSERT_TRUE(RegisterHotKey(other.Handle(), 1, MOD_CONTROL, 'B'));
  TTestWindow window;
  THotKeyInfoList list(window.Handle());
  AddDefaultHotKeys(list);
  bool firstRegisteredAtBox = false, thirdRegisteredAtBox = true;
  Recorder.WhileOpen = [&] {
    firstRegisteredAtBox = list[0].Registered();
    thirdRegisteredAtBox = list[2].Registered();
  };

  list.DoProcess_RegisterHotKey();
  ASSERT_EQ(Boxes.size(), 1u);
  ExpectBox(Boxes[0], window.Handle(), L"ブラックアウト（Ctrl + B）が登録できませんでした。", L"エラー", MB_ICONERROR | MB_OK);
  // Shown in index order, in the middle of the pass.
  EXPECT_TRUE(firstRegisteredAtBox);
  EXPECT_FALSE(thirdRegisteredAtBox);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(list[i].Registered(), i != 1) << i;
  // The failed entry's identifier still names its atom, and the atom is given back on unregistering.
  EXPECT_EQ(AtomName(list[1].HotKeyID()), L"MyHotKey1");
  EXPECT_TRUE(list[1].HoldsAtom());

  // The other window keeps its combination.
  other.Hits.clear();
  Press(0x0242);
  PumpUntil([&] { return !other.Hits.empty(); }, 2000);
  EXPECT_EQ(other.Hits.size(), 1u);
  EXPECT_TRUE(window.Hits.empty());

  list.DoProcess_UnregisterHotKey();
  EXPECT_EQ(GlobalFindAtomW(L"MyHotKey1"), 0);
  UnregisterHotKey(other.Handle(), 1);
}

TEST_F(HotKeyRegister, SameCombinationTwiceInTheTableFailsForTheSecond) {
  TTestWindow window;
  THotKeyInfoList list(window.Handle());
  list.AddItem(0x0070, L"入力1");
  list.AddItem(0x0070, L"入力2");
  EXPECT_EQ(list.DoProcess_RegisterHotKey(), 1);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, L"入力2（F1）が登録できませんでした。");
  EXPECT_TRUE(list[0].Registered());
  EXPECT_FALSE(list[1].Registered());
  list.DoProcess_UnregisterHotKey();

  // Asked for without anybody at the screen: the same result, counted, no box.
  EXPECT_EQ(list.DoProcess_RegisterHotKey(false), 1);
  EXPECT_EQ(Boxes.size(), 1u);
  EXPECT_TRUE(list[0].Registered());
  EXPECT_FALSE(list[1].Registered());
  list.DoProcess_UnregisterHotKey();
}

TEST_F(HotKeyRegister, ValueZeroIsNeverRegisteredAndTakesNoAtom) {
  TTestWindow window;
  THotKeyInfoList list(window.Handle());
  list.AddItem(0x024D, L"電源制御");
  list.AddItem(0, L"ブラックアウト");
  list.AddItem(0x0071, L"入力1");
  EXPECT_EQ(list[1].HotKeyText(), L"");
  list.DoProcess_RegisterHotKey();
  EXPECT_TRUE(Boxes.empty());
  EXPECT_TRUE(list[0].Registered());
  EXPECT_FALSE(list[1].Registered());
  EXPECT_FALSE(list[1].HoldsAtom());
  EXPECT_EQ(list[1].HotKeyID(), 0);
  EXPECT_EQ(GlobalFindAtomW(L"MyHotKey1"), 0);
  EXPECT_TRUE(list[2].Registered());
  list.DoProcess_UnregisterHotKey();
  list.DoProcess_UnregisterHotKey();
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(HotKeyRegister, ModifiersReachTheSystemAndExtIsNotOne) {
  TTestWindow window;
  THotKeyInfoList list(window.Handle());
  list.AddItem(0x064D, L"電源制御");    // Ctrl+Alt+M
  list.AddItem(0x0824, L"ブラックアウト"); // extended Home
  list.AddItem(0x0153, L"入力1");       // Shift+S
  EXPECT_EQ(list[0].HotKeyText(), L"Alt + Ctrl + M");
  EXPECT_EQ(list[1].HotKeyText(), L"Ext + Home");
  EXPECT_EQ(list[2].HotKeyText(), L"Shift + S");
  list.DoProcess_RegisterHotKey();
  ASSERT_TRUE(Boxes.empty());

  // The system now refuses exactly these combinations to anybody else.
  TTestWindow other;
  EXPECT_FALSE(RegisterHotKey(other.Handle(), 1, MOD_ALT | MOD_CONTROL, 'M'));
  EXPECT_FALSE(RegisterHotKey(other.Handle(), 2, 0, VK_HOME));
  EXPECT_FALSE(RegisterHotKey(other.Handle(), 3, MOD_SHIFT, 'S'));
  EXPECT_TRUE(RegisterHotKey(other.Handle(), 4, MOD_CONTROL, 'M'));
  EXPECT_TRUE(RegisterHotKey(other.Handle(), 5, MOD_ALT, 'M'));
  EXPECT_TRUE(RegisterHotKey(other.Handle(), 6, MOD_CONTROL, 'S'));
  for (int id = 4; id <= 6; ++id) UnregisterHotKey(other.Handle(), id);

  window.Hits.clear();
  Press(0x064D);
  PumpUntil([&] { return !window.Hits.empty(); }, 2000);
  ASSERT_EQ(window.Hits.size(), 1u);
  EXPECT_EQ(window.Hits[0].Id, static_cast<WPARAM>(list[0].HotKeyID()));
  EXPECT_EQ(LOWORD(window.Hits[0].Param) & 7, MOD_ALT | MOD_CONTROL);

  window.Hits.clear();
  Press(0x0824);
  PumpUntil([&] { return !window.Hits.empty(); }, 2000);
  ASSERT_EQ(window.Hits.size(), 1u);
  EXPECT_EQ(window.Hits[0].Id, static_cast<WPARAM>(list[1].HotKeyID()));
  list.DoProcess_UnregisterHotKey();
}

TEST_F(HotKeyRegister, UnregisteringTwiceKeepsAnotherHoldersAtom) {
  // Another program holds a reference to the same atom name.
  const ATOM foreign = GlobalAddAtomW(L"MyHotKey0");
  ASSERT_NE(foreign, 0);
  TTestWindow window;
  {
    THotKeyInfoList list(window.Handle());
    list.AddItem(0x024D, L"電源制御");
    list.DoProcess_RegisterHotKey();
    EXPECT_EQ(list[0].HotKeyID(), foreign);
    // Registering again (without unregistering) takes no second reference.
    list.DoProcess_RegisterHotKey();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_TRUE(list[0].Registered());
    list.DoProcess_UnregisterHotKey();
    list.DoProcess_UnregisterHotKey();
    list.DoProcess_UnregisterHotKey();
  }
  // Still there for its holder, and gone with that holder's one release.
  EXPECT_EQ(AtomName(foreign), L"MyHotKey0");
  GlobalDeleteAtom(foreign);
  EXPECT_EQ(GlobalFindAtomW(L"MyHotKey0"), 0);
}

TEST_F(HotKeyRegister, ClearingARegisteredTableGivesEverythingBack) {
  TTestWindow window;
  THotKeyInfoList list(window.Handle());
  AddDefaultHotKeys(list);
  list.DoProcess_RegisterHotKey();
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(GlobalFindAtomW(HotKeyAtomName(i).c_str()), 0) << i;
  TTestWindow other;
  EXPECT_TRUE(RegisterHotKey(other.Handle(), 1, MOD_CONTROL, 'M'));
  UnregisterHotKey(other.Handle(), 1);
  // Refilled as the settings dialog does: fresh entries, identifiers 0.
  AddDefaultHotKeys(list);
  EXPECT_EQ(list[0].HotKeyID(), 0);
  EXPECT_EQ(list[0].HotKeyDefault(), 0x024D);
  EXPECT_THROW(list[10], std::out_of_range);
  EXPECT_THROW(list[-1], std::out_of_range);
}

TEST_F(HotKeyRegister, HeldKeyFiresOnceWhereTheSystemHonoursNoRepeat) {
  // Ctrl held, Q held down long enough to auto-repeat: three key-downs, one key-up.
  auto holdCtrlQ = [] {
    KeyDown(VK_CONTROL);
    for (int i = 0; i < 3; ++i) KeyDown('Q');
    KeyUp('Q');
    KeyUp(VK_CONTROL);
  };
  auto collect = [](TTestWindow& w) {
    PumpUntil([&] { return w.Hits.size() >= 3; }, 2000);
    PumpFor(200);
    return w.Hits.size();
  };
  // What this system does for a plain registration with MOD_NOREPEAT.
  TTestWindow probe;
  ASSERT_TRUE(RegisterHotKey(probe.Handle(), 1, MOD_CONTROL | MOD_NOREPEAT, 'Q'));
  holdCtrlQ();
  const std::size_t systemCount = collect(probe);
  UnregisterHotKey(probe.Handle(), 1);
  ASSERT_GE(systemCount, 1u);

  TTestWindow window;
  THotKeyInfoList list(window.Handle());
  list.AddItem(0x0251, L"電源制御"); // Ctrl+Q
  list.DoProcess_RegisterHotKey();
  holdCtrlQ();
  const std::size_t tableCount = collect(window);
  list.DoProcess_UnregisterHotKey();
  // The table behaves like a MOD_NOREPEAT registration on this system.
  EXPECT_EQ(tableCount, systemCount);
  if (systemCount != 1)
    GTEST_SKIP() << "this system ignores MOD_NOREPEAT (" << systemCount
                 << " messages for one held key); the flag itself is checked by the native tests";
  EXPECT_EQ(tableCount, 1u);
}

TEST_F(HotKeyRegister, KeysOutsideTheNameTableUseTheSystemsName) {
  // VK_OEM_1 (";" on a US layout) has no name of the program's own.
  const std::wstring name = PlatformKeyName(VK_OEM_1);
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(PlatformKeyName(0), L"");
  TTestWindow window;
  THotKeyInfoList list(window.Handle());
  list.AddItem(MakeHotKeyValue(VK_OEM_1, HotKeyFlagControl), L"電源制御");
  EXPECT_EQ(list[0].HotKeyText(), L"Ctrl + " + name);
  // Table names win over the system's ("Num 1" or similar there).
  list.AddItem(MakeHotKeyValue(VK_NUMPAD1, 0), L"ブラックアウト");
  EXPECT_EQ(list[1].HotKeyText(), L"1");
}
