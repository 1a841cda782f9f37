#include "common/core/IniValue.h"
#include "common/core/IniWriteError.h"

#include <gtest/gtest.h>

using namespace kav;

TEST(IniValue, IntegersInDecimalWithSign) {
  EXPECT_EQ(IniTextToInteger(L"0", 7), 0);
  EXPECT_EQ(IniTextToInteger(L"589", 7), 589);
  EXPECT_EQ(IniTextToInteger(L"-1", 7), -1);
  EXPECT_EQ(IniTextToInteger(L"+42", 7), 42);
  EXPECT_EQ(IniTextToInteger(L"007", 1), 7);
  EXPECT_EQ(IniTextToInteger(L"2147483647", 7), 2147483647);
  EXPECT_EQ(IniTextToInteger(L"-2147483648", 7), INT32_MIN);
}

TEST(IniValue, IntegersInHexWithEitherPrefix) {
  EXPECT_EQ(IniTextToInteger(L"0x24D", 0), 589);  // Ctrl + M
  EXPECT_EQ(IniTextToInteger(L"0X24d", 0), 589);
  EXPECT_EQ(IniTextToInteger(L"$24D", 0), 589);
  EXPECT_EQ(IniTextToInteger(L"$7FFFFFFF", 0), INT32_MAX);
  // Eight digits are the 32-bit pattern.
  EXPECT_EQ(IniTextToInteger(L"$FFFFFFFF", 0), -1);
  EXPECT_EQ(IniTextToInteger(L"0x80000000", 0), INT32_MIN);
  // Leading zeros do not count against the width: the value decides.
  EXPECT_EQ(IniTextToInteger(L"0x000000071", 0), 113);
  EXPECT_EQ(IniTextToInteger(L"$000000010", 0), 16);
  EXPECT_EQ(IniTextToInteger(L"0x" + std::wstring(40, L'0') + L"24D", 0), 589);
  EXPECT_EQ(IniTextToInteger(L"$0FFFFFFFF", 0), -1);
  // What does not fit 32 bits still gives the default, zeros or not.
  EXPECT_EQ(IniTextToInteger(L"0x000100000000", 30), 30);
  EXPECT_EQ(IniTextToInteger(L"$1FFFFFFFF", 30), 30);
  EXPECT_EQ(IniTextToInteger(L"0x" + std::wstring(40, L'F'), 30), 30);
}

TEST(IniValue, AnythingElseGivesTheDefault) {
  for (const wchar_t* text : {L"", L"abc", L"no", L"12abc", L" 12", L"12 ", L"1.5", L"-", L"+", L"--1", L"0x",
                              L"$", L"0xG1", L"$-1", L"-0x10", L"0x100000000", L"2147483648", L"-2147483649",
                              L"99999999999999999999999", L"１２", L"0b101"}) {
    EXPECT_EQ(IniTextToInteger(text, 30), 30) << "text: " << ToUtf8(text);
  }
  EXPECT_FALSE(ParseIniInteger(std::wstring(5000, L'9')).has_value());
}

TEST(IniValue, BooleansReadAsIntegersAnyNonZeroIsTrue) {
  EXPECT_TRUE(IniTextToBool(L"1", false));
  EXPECT_TRUE(IniTextToBool(L"2", false));  // WindowVisible=2
  EXPECT_TRUE(IniTextToBool(L"-1", false));
  EXPECT_TRUE(IniTextToBool(L"0x10", false));
  EXPECT_FALSE(IniTextToBool(L"0", true));
  EXPECT_TRUE(IniTextToBool(L"no", true));  // does not convert: the default
  EXPECT_FALSE(IniTextToBool(L"no", false));
  EXPECT_FALSE(IniTextToBool(L"", false));
  EXPECT_TRUE(IniTextToBool(L"true", true));
  EXPECT_FALSE(IniTextToBool(L"true", false));  // text is not a number
}

TEST(IniValue, WritesDecimalAndOneOrZero) {
  EXPECT_EQ(IniIntegerToText(589), L"589");
  EXPECT_EQ(IniIntegerToText(-1), L"-1");
  EXPECT_EQ(IniIntegerToText(INT32_MIN), L"-2147483648");
  EXPECT_EQ(IniBoolToText(true), L"1");
  EXPECT_EQ(IniBoolToText(false), L"0");
  // What is written reads back unchanged.
  for (int32_t v : {0, 1, -1, 65535, INT32_MAX, INT32_MIN}) EXPECT_EQ(IniTextToInteger(IniIntegerToText(v), 7), v);
}

TEST(IniValue, LogKeepDayIsCappedAboveOnly) {
  EXPECT_EQ(CapLogKeepDay(400), 365);
  EXPECT_EQ(CapLogKeepDay(365), 365);
  EXPECT_EQ(CapLogKeepDay(30), 30);
  EXPECT_EQ(CapLogKeepDay(0), 0);
  EXPECT_EQ(CapLogKeepDay(-5), -5);
  EXPECT_EQ(CapLogKeepDay(INT32_MAX), 365);
}

TEST(IniWriteError, MessageNamesTheFullPath) {
  const EIniWriteError error(L"C:\\ProgramData\\KOVA\\KAV90R_HotKeyController\\KAV90R_HotKeyController.ini");
  EXPECT_EQ(error.Message(), L"C:\\ProgramData\\KOVA\\KAV90R_HotKeyController\\KAV90R_HotKeyController.ini に書き込めません");
  EXPECT_EQ(error.FileName(), L"C:\\ProgramData\\KOVA\\KAV90R_HotKeyController\\KAV90R_HotKeyController.ini");
  // Callers that only know std::exception still get the text (UTF-8).
  const std::exception& base = error;
  EXPECT_NE(std::string(base.what()).find("に書き込めません"), std::string::npos);
}
