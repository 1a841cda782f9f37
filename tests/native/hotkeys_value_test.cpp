#include "hotkeys/core/HotKeyValue.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kav;

namespace {
// Stands in for the platform's key names and records what it was asked.
struct TFakePlatform {
  std::vector<std::uint8_t> Asked;
  TPlatformKeyNameFunc Func() {
    return [this](std::uint8_t code) {
      Asked.push_back(code);
      return code == 0xBA ? std::wstring(L";") : std::wstring();
    };
  }
};
} // namespace

TEST(HotKeyText, ModifiersInAltCtrlShiftExtOrder) {
  TFakePlatform p;
  EXPECT_EQ(HotKeyText(0x024D, p.Func()), L"Ctrl + M");
  EXPECT_EQ(HotKeyText(0x0641, p.Func()), L"Alt + Ctrl + A");
  EXPECT_EQ(HotKeyText(0x0824, p.Func()), L"Ext + Home");
  EXPECT_EQ(HotKeyText(0x0070, p.Func()), L"F1");
  EXPECT_EQ(HotKeyText(0x0F5A, p.Func()), L"Alt + Ctrl + Shift + Ext + Z");
  EXPECT_EQ(HotKeyText(0x0531, p.Func()), L"Alt + Shift + 1");
  EXPECT_EQ(HotKeyText(0x064D, p.Func()), L"Alt + Ctrl + M");
  // Unused high bits carry no name.
  EXPECT_EQ(HotKeyText(0xF242, p.Func()), L"Ctrl + B");
  EXPECT_TRUE(p.Asked.empty());
}

TEST(HotKeyText, ZeroIsEmptyAndAsksNobody) {
  TFakePlatform p;
  EXPECT_EQ(HotKeyText(0, p.Func()), L"");
  // Flags without a key still show the flags.
  EXPECT_EQ(HotKeyText(0x0200, p.Func()), L"Ctrl + ");
  EXPECT_TRUE(p.Asked.empty());
}

TEST(HotKeyText, FunctionKeysF1ToF24) {
  for (int i = 0; i < 24; ++i)
    EXPECT_EQ(HotKeyKeyName(static_cast<std::uint8_t>(0x70 + i), nullptr), L"F" + std::to_wstring(i + 1));
}

TEST(HotKeyText, DigitsLettersAndKeypadDigits) {
  for (int i = 0; i < 10; ++i) {
    const std::wstring digit(1, static_cast<wchar_t>(L'0' + i));
    EXPECT_EQ(HotKeyKeyName(static_cast<std::uint8_t>(0x30 + i), nullptr), digit);
    EXPECT_EQ(HotKeyKeyName(static_cast<std::uint8_t>(0x60 + i), nullptr), digit);
  }
  EXPECT_EQ(HotKeyKeyName(0x41, nullptr), L"A");
  EXPECT_EQ(HotKeyKeyName(0x5A, nullptr), L"Z");
}

TEST(HotKeyText, NamedKeys) {
  const std::pair<std::uint8_t, const wchar_t*> table[] = {
      {0x08, L"BkSp"}, {0x09, L"Tab"},   {0x0D, L"Enter"}, {0x1B, L"Esc"},   {0x20, L"Space"},
      {0x21, L"PgUp"}, {0x22, L"PgDn"},  {0x23, L"End"},   {0x24, L"Home"},  {0x25, L"Left"},
      {0x26, L"Up"},   {0x27, L"Right"}, {0x28, L"Down"},  {0x2D, L"Ins"},   {0x2E, L"Del"}};
  for (const auto& [code, name] : table) EXPECT_EQ(HotKeyKeyName(code, nullptr), name) << int(code);
}

TEST(HotKeyText, OtherCodesComeFromThePlatform) {
  TFakePlatform p;
  EXPECT_EQ(HotKeyText(0x02BA, p.Func()), L"Ctrl + ;");
  // The platform has no name: only the prefix is left.
  EXPECT_EQ(HotKeyText(0x0413, p.Func()), L"Alt + ");
  // Just outside the table's ranges.
  EXPECT_EQ(HotKeyKeyName(0x29, p.Func()), L"");
  EXPECT_EQ(HotKeyKeyName(0x3A, p.Func()), L"");
  EXPECT_EQ(HotKeyKeyName(0x5B, p.Func()), L"");
  EXPECT_EQ(HotKeyKeyName(0x6A, p.Func()), L"");
  EXPECT_EQ(HotKeyKeyName(0x88, p.Func()), L"");
  EXPECT_EQ(p.Asked, (std::vector<std::uint8_t>{0xBA, 0x13, 0x29, 0x3A, 0x5B, 0x6A, 0x88}));
  // No platform at all: no name rather than a crash.
  EXPECT_EQ(HotKeyText(0x02BA, nullptr), L"Ctrl + ");
}

TEST(HotKeyFuncAndText, FullWidthParenthesesNoSpaces) {
  EXPECT_EQ(HotKeyFuncAndText(L"電源制御", L"Ctrl + M"), L"電源制御（Ctrl + M）");
  EXPECT_EQ(HotKeyFuncAndText(L"入力1", L"F1"), L"入力1\uFF08F1\uFF09");
  EXPECT_EQ(HotKeyFuncAndText(L"", L""), L"（）");
}

TEST(HotKeyModifiers, FlagBitsMapToSystemBitsAndExtIsDropped) {
  EXPECT_EQ(HotKeyModifiers(0x024D), HotKeyModControl | HotKeyModNoRepeat);
  EXPECT_EQ(HotKeyModifiers(0x064D), HotKeyModAlt | HotKeyModControl | HotKeyModNoRepeat);
  EXPECT_EQ(HotKeyModifiers(0x0141), HotKeyModShift | HotKeyModNoRepeat);
  EXPECT_EQ(HotKeyModifiers(0x0441), HotKeyModAlt | HotKeyModNoRepeat);
  EXPECT_EQ(HotKeyModifiers(0x0824), HotKeyModNoRepeat);
  EXPECT_EQ(HotKeyModifiers(0x0F24), HotKeyModAlt | HotKeyModControl | HotKeyModShift | HotKeyModNoRepeat);
  EXPECT_EQ(HotKeyModifiers(0x0070), HotKeyModNoRepeat);
  EXPECT_EQ(HotKeyModNoRepeat, 0x4000u);
  EXPECT_EQ(HotKeyModAlt | HotKeyModControl | HotKeyModShift, 0x7u);
}

TEST(HotKeyValue, DefaultsAndHelpers) {
  EXPECT_EQ(DefaultHotKeyValue(0), 0x024D);
  EXPECT_EQ(DefaultHotKeyValue(1), 0x0242);
  for (std::size_t i = 2; i < HotKeyCount; ++i) EXPECT_EQ(DefaultHotKeyValue(i), 0x0070 + (i - 2));
  EXPECT_EQ(DefaultHotKeyValue(10), 0);
  EXPECT_EQ(DefaultHotKeyValue(1000), 0);
  EXPECT_EQ(HotKeyValueFromInt(-1), 0xFFFF);
  EXPECT_EQ(HotKeyValueFromInt(0x1024D), 0x024D);
  EXPECT_EQ(HotKeyValueFromInt(589), 0x024D);
  EXPECT_EQ(MakeHotKeyValue(0x4D, HotKeyFlagControl), 0x024D);
  EXPECT_EQ(HotKeyAtomName(0), L"MyHotKey0");
  EXPECT_EQ(HotKeyAtomName(9), L"MyHotKey9");
}
