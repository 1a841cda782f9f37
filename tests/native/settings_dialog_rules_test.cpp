#include "settings/core/EnvSettingsRules.h"
#include "common/core/TextUtil.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kav;

namespace {
constexpr THotKeyValue CtrlM = 0x024D;
constexpr THotKeyValue CtrlB = 0x0242;
constexpr THotKeyValue F1 = 0x0070;
constexpr THotKeyValue ExtHome = 0x0824;
constexpr THotKeyValue Home = 0x0024;

std::vector<THotKeyValue> Defaults() {
  return std::vector<THotKeyValue>(DefaultHotKeyValues.begin(), DefaultHotKeyValues.end());
}
const std::array<bool, EnvCheckBoxCount> Boxes{false, false, true, true, true};
} // namespace

TEST(SettingsDialogRules, KeyFieldResetRules) {
  // Pause in any form, Cancel (Ctrl+Break) in any form.
  EXPECT_TRUE(HotKeyFieldNeedsReset(HotKeyPlaceholder));
  EXPECT_TRUE(HotKeyFieldNeedsReset(0x0213));  // Ctrl+Pause
  EXPECT_TRUE(HotKeyFieldNeedsReset(0x0713));
  EXPECT_TRUE(HotKeyFieldNeedsReset(0x0203));  // Ctrl+Break
  EXPECT_TRUE(HotKeyFieldNeedsReset(0x0003));
  // The input method's process key only without modifiers.
  EXPECT_TRUE(HotKeyFieldNeedsReset(0x00E5));
  EXPECT_FALSE(HotKeyFieldNeedsReset(0x02E5));
  // Modifier keys alone; Ext alone is no modifier.
  EXPECT_TRUE(HotKeyFieldNeedsReset(0x0200));
  EXPECT_TRUE(HotKeyFieldNeedsReset(0x0500));
  EXPECT_FALSE(HotKeyFieldNeedsReset(0x0800));
  // Real combinations and "no hot key" stay.
  EXPECT_FALSE(HotKeyFieldNeedsReset(0));
  EXPECT_FALSE(HotKeyFieldNeedsReset(CtrlM));
  EXPECT_FALSE(HotKeyFieldNeedsReset(F1));
  EXPECT_FALSE(HotKeyFieldNeedsReset(ExtHome));
}

TEST(SettingsDialogRules, LeavingAFieldRestoresOnlyThePlaceholder) {
  EXPECT_EQ(HotKeyFieldExitValue(HotKeyPlaceholder, CtrlM), CtrlM);
  // The Ext flag held before is not restored.
  EXPECT_EQ(HotKeyFieldExitValue(HotKeyPlaceholder, ExtHome), Home);
  EXPECT_EQ(HotKeyFieldExitValue(HotKeyPlaceholder | 0x0800, F1), F1);
  // A new key stays, also 0.
  EXPECT_EQ(HotKeyFieldExitValue(0x0641, CtrlM), 0x0641);
  EXPECT_EQ(HotKeyFieldExitValue(0, CtrlM), 0);
}

TEST(SettingsDialogRules, FallbackModifiersFollowTheRule) {
  // Power field: Ctrl from its design-time value; a bare key put in by the
  // program keeps it, so a bare key typed there becomes Ctrl + key.
  THotKeyFieldFallback power(CtrlM);
  EXPECT_EQ(power.Modifiers(), HotKeyFlagControl);
  power.ProgramSet(0x0078);  // F9
  EXPECT_EQ(power.Modifiers(), HotKeyFlagControl);
  power.FocusGained(0x0078);
  EXPECT_EQ(power.Modifiers(), HotKeyFlagControl);
  power.ResetToPlaceholder(0x0078);
  EXPECT_EQ(power.Modifiers(), HotKeyFlagControl);
  // Gaining the focus while showing modifiers clears it for good.
  power.FocusGained(CtrlM);
  EXPECT_EQ(power.Modifiers(), 0);
  power.ProgramSet(F1);
  EXPECT_EQ(power.Modifiers(), 0);
  // Putting in a value with modifiers makes them the fallback (Ext is not one).
  power.ProgramSet(0x0641);
  EXPECT_EQ(power.Modifiers(), HotKeyFlagAlt | HotKeyFlagControl);
  power.ProgramSet(ExtHome);
  EXPECT_EQ(power.Modifiers(), HotKeyFlagAlt | HotKeyFlagControl);
  // Reset to the placeholder from Ctrl+Pause clears it.
  power.ResetToPlaceholder(0x0213);
  EXPECT_EQ(power.Modifiers(), 0);

  THotKeyFieldFallback input(F1);
  EXPECT_EQ(input.Modifiers(), 0);
  input.ProgramSet(0x0171);  // Shift+F2
  EXPECT_EQ(input.Modifiers(), HotKeyFlagShift);
}

TEST(SettingsDialogRules, ChangeCheckComparesCombinations) {
  auto fields = Defaults();
  auto old = Defaults();
  EXPECT_FALSE(IsEnvSettingsChanged(3, 3, Boxes, Boxes, fields, old, 10));
  // Port choice.
  EXPECT_TRUE(IsEnvSettingsChanged(-1, 0, Boxes, Boxes, fields, old, 10));
  EXPECT_TRUE(IsEnvSettingsChanged(0, 5, Boxes, Boxes, fields, old, 10));
  // Each check box.
  for (std::size_t i = 0; i < EnvCheckBoxCount; ++i) {
    auto changed = Boxes;
    changed[i] = !changed[i];
    EXPECT_TRUE(IsEnvSettingsChanged(3, 3, changed, Boxes, fields, old, 10)) << i;
  }
  // Each key field, and the Ext flag alone is no change.
  for (std::size_t i = 0; i < 10; ++i) {
    auto f = fields;
    f[i] = HotKeyPlaceholder;
    EXPECT_TRUE(IsEnvSettingsChanged(3, 3, Boxes, Boxes, f, old, 10)) << i;
    f[i] = static_cast<THotKeyValue>(fields[i] | 0x0800);
    EXPECT_FALSE(IsEnvSettingsChanged(3, 3, Boxes, Boxes, f, old, 10)) << i;
  }
  // A refused write keeps "適用" on.
  EXPECT_TRUE(IsEnvSettingsChanged(3, 3, Boxes, Boxes, fields, old, 10, true));
}

TEST(SettingsDialogRules, ChangeCheckIsBoundedByEntriesAndFields) {
  auto fields = Defaults();
  auto old = Defaults();
  fields[5] = 0x0241;
  EXPECT_TRUE(IsEnvSettingsChanged(0, 0, Boxes, Boxes, fields, old, 10));
  // Only three entries: fields beyond them are not compared.
  EXPECT_FALSE(IsEnvSettingsChanged(0, 0, Boxes, Boxes, fields, old, 3));
  EXPECT_FALSE(IsEnvSettingsChanged(0, 0, Boxes, Boxes, fields, old, 0));
  // More entries than fields or remembered values: no reads beyond either.
  EXPECT_TRUE(IsEnvSettingsChanged(0, 0, Boxes, Boxes, fields, old, 25));
  std::vector<THotKeyValue> shortOld(old.begin(), old.begin() + 4);
  EXPECT_FALSE(IsEnvSettingsChanged(0, 0, Boxes, Boxes, fields, shortOld, 25));
}

TEST(SettingsDialogRules, DuplicateTest) {
  auto fields = Defaults();
  EXPECT_FALSE(IsDuplicateHotKey(fields, 10));
  fields[9] = CtrlM;  // same as the power field, first and last
  EXPECT_TRUE(IsDuplicateHotKey(fields, 10));
  // Beyond the table's entries nothing is compared.
  EXPECT_FALSE(IsDuplicateHotKey(fields, 9));
  // Ext does not make two combinations different.
  fields = Defaults();
  fields[3] = Home;
  fields[7] = ExtHome;
  EXPECT_TRUE(IsDuplicateHotKey(fields, 10));
  // "No hot key" is never a duplicate.
  fields = Defaults();
  fields[2] = 0;
  fields[4] = 0;
  fields[6] = 0x0800;  // Ext alone: combination 0 as well
  EXPECT_FALSE(IsDuplicateHotKey(fields, 10));
  EXPECT_FALSE(IsDuplicateHotKey(fields, 100));
  fields[8] = CtrlB;
  EXPECT_TRUE(IsDuplicateHotKey(fields, 100));
}

TEST(SettingsDialogRules, DefaultValuesAreBounded) {
  EXPECT_EQ(DefaultFieldValues(10, 10), Defaults());
  EXPECT_EQ(DefaultFieldValues(1, 10), std::vector<THotKeyValue>{CtrlM});
  EXPECT_EQ(DefaultFieldValues(12, 10).size(), 10u);
  EXPECT_TRUE(DefaultFieldValues(0, 10).empty());
  EXPECT_EQ(DefaultFieldValues(10, 4).size(), 4u);
  EXPECT_EQ(DefaultFieldValues(30, 30).size(), DefaultHotKeyValues.size());
}

TEST(SettingsDialogRules, StoreItemsCoverEveryFieldWithFullValues) {
  std::vector<THotKeyValue> fields = Defaults();
  fields[4] = ExtHome;
  fields[5] = 0;
  const auto items = HotKeyStoreItems(fields);
  ASSERT_EQ(items.size(), 10u);
  EXPECT_EQ(items[0], (THotKeyStoreItem{CtrlM, L"電源制御"}));
  EXPECT_EQ(items[1], (THotKeyStoreItem{CtrlB, L"ブラックアウト"}));
  EXPECT_EQ(items[2], (THotKeyStoreItem{F1, L"入力1"}));
  EXPECT_EQ(items[4], (THotKeyStoreItem{ExtHome, L"入力3"}));  // Ext kept
  EXPECT_EQ(items[5], (THotKeyStoreItem{0, L"入力4"}));
  EXPECT_EQ(items[9].Func, L"入力8");
  EXPECT_EQ(HotKeyFieldLabel(1), L"ブラックアウト：");
  EXPECT_EQ(HotKeyFieldLabel(9), L"入力8：");
}

TEST(SettingsDialogRules, PortList) {
  const auto items = ComPortListItems();
  ASSERT_EQ(items.size(), 21u);
  EXPECT_EQ(items[0], L"選択してください");
  EXPECT_EQ(items[1], L"COM1");
  EXPECT_EQ(items[20], L"COM20");
  EXPECT_EQ(FindComPortIndex(items, L"COM5"), 5);
  EXPECT_EQ(FindComPortIndex(items, L"com12"), 12);
  EXPECT_EQ(FindComPortIndex(items, L"cOm20"), 20);
  EXPECT_EQ(FindComPortIndex(items, L""), -1);
  EXPECT_EQ(FindComPortIndex(items, L"COM21"), -1);
  EXPECT_EQ(FindComPortIndex(items, L"COM5 "), -1);
  // "選択してください" clears the port; no selection leaves the stored one.
  EXPECT_EQ(ComPortToStore(0, L"選択してください", L"COM23"), L"");
  EXPECT_EQ(ComPortToStore(-1, L"", L"COM23"), L"COM23");
  EXPECT_EQ(ComPortToStore(-1, L"", L""), L"");
  EXPECT_EQ(ComPortToStore(5, L"COM5", L"COM23"), L"COM5");
}

TEST(SettingsDialogRules, PortListAddsPresentPortsAboveTwentyThenTheStoredPort) {
  // As the system lists them: unordered, some within COM1-COM20, one twice
  // in another case, names that are no COM number.
  const std::vector<std::wstring> present = {L"COM34", L"COM3", L"COM21", L"CNCA0", L"com34", L"COM100",
                                             L"COM021", L"COM", L"COM2x", L"COM25"};
  const auto items = ComPortListItems(present, L"COM23");
  const std::vector<std::wstring> tail(items.begin() + 21, items.end());
  EXPECT_EQ(tail, (std::vector<std::wstring>{L"COM21", L"COM25", L"COM34", L"COM100", L"COM23"}));
  EXPECT_EQ(items[3], L"COM3");  // COM1-COM20 keep their places
  EXPECT_EQ(items[20], L"COM20");
  EXPECT_EQ(FindComPortIndex(items, L"com23"), 25);

  // A stored port already listed, in any case, is not added again; an empty
  // one adds nothing; one the system does not have is added as stored.
  EXPECT_EQ(ComPortListItems(present, L"com25").size(), 25u);
  EXPECT_EQ(ComPortListItems(present, L"COM7").size(), 25u);
  EXPECT_EQ(ComPortListItems({}, L"").size(), 21u);
  EXPECT_EQ(ComPortListItems({}, L"COM5 ").back(), L"COM5 ");

  EXPECT_EQ(ComPortNumber(L"COM256"), 256);
  EXPECT_EQ(ComPortNumber(L"cOm7"), 7);
  for (const wchar_t* name : {L"COM0", L"COM07", L"COM-1", L"COM+1", L"COM", L"LPT1", L"COM1 ", L"COM1234567890"})
    EXPECT_EQ(ComPortNumber(name), 0) << ToUtf8(name);
}

TEST(SettingsDialogRules, CommunicationTestTexts) {
  EXPECT_EQ(ComPortSelectPromptText(L"KTX-AV90R"), L"KTX-AV90Rと接続しているCOMポートを選択してください。");
  EXPECT_EQ(ComPortTestSuccessText(L"KTX-AV90R"), L"KTX-AV90Rとの通信テストに成功しました。");
  EXPECT_EQ(ComPortTestFailureText(L"M"),
            L"Mとの通信テストに失敗しました。\r\n次の項目を確認してください。\r\n\r\n"
            L"１．Mの電源(ONにしてください)\r\n２．COMポートの番号\r\n３．Mとのケーブル接続");
}
