#include "app/core/AppExceptions.h"
#include "app/core/AppTexts.h"
#include "app/core/WindowPlacement.h"
#include "common/core/DpiScale.h"
#include "common/core/TextUtil.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace kav;

TEST(AppPlacement, BottomRightFromWorkAreaSize) {
  // Taskbar at the bottom of a 1024 x 768 screen: work area 1024 x 738.
  const auto p = PlaceBottomRight(1024, 738, 220, 125);
  EXPECT_EQ(p.Left, 1024 - 220 - 5);
  EXPECT_EQ(p.Top, 738 - 125 - 5);
  // The outer corner is 5 pixels inside the work area's corner.
  EXPECT_EQ(p.Left + 220, 1024 - 5);
  EXPECT_EQ(p.Top + 125, 738 - 5);
}

TEST(AppPlacement, DpiScalingRoundsLikeMulDiv) {
  EXPECT_EQ(ScaleForDpi(214, 96), 214);
  EXPECT_EQ(ScaleForDpi(214, 144), 321);
  EXPECT_EQ(ScaleForDpi(125, 120), 156); // 156.25
  EXPECT_EQ(ScaleForDpi(5, 144), 8);     // 7.5 rounds up
  EXPECT_EQ(ScaleForDpi(-12, 144), -18);
}

TEST(AppTexts, StateTablesAndQuestion) {
  EXPECT_STREQ(AppText::HotKeyStateText(true), L"有効");
  EXPECT_STREQ(AppText::HotKeyStateText(false), L"無効");
  EXPECT_STREQ(AppText::OnOffText(true), L"ON");
  EXPECT_STREQ(AppText::OnOffText(false), L"OFF");
  // The question offers the opposite of the current state.
  EXPECT_EQ(AppText::HotKeyEnableQuestion(false), L"ホットキーによる入力ソース選択を有効にしますか？");
  EXPECT_EQ(AppText::HotKeyEnableQuestion(true), L"ホットキーによる入力ソース選択を無効にしますか？");
  EXPECT_EQ(AppText::SelChannelText(3), L"3");
  EXPECT_EQ(AppText::SelChannelText(-12), L"-12");
  EXPECT_EQ(AppText::SelChannelText(0), L"0");
}

TEST(AppTexts, CaptionsUseIdeographicSpaceAndKatakanaDots) {
  const std::wstring gap = L"\u3000\u30FB\u30FB\u30FB";
  for (const wchar_t* caption : {AppText::LabelHotKeyEnabled, AppText::LabelPower, AppText::LabelBlackout,
                                 AppText::LabelSelChannel}) {
    const std::wstring c = caption;
    ASSERT_GT(c.size(), gap.size());
    EXPECT_EQ(c.substr(c.size() - gap.size()), gap) << kav::ToUtf8(c);
  }
}

TEST(AppTexts, FormattedMessages) {
  EXPECT_EQ(AppText::HotKeyPressedTrace(L"電源制御（Ctrl + M）"), L"電源制御（Ctrl + M）が押されました");
  EXPECT_EQ(AppText::SelectComPortPrompt(L"KTX-AV90R"), L"KTX-AV90Rと接続しているCOMポートを選択してください。");
  EXPECT_EQ(AppText::StartupPreparationLog(L"PC01", L"192.168.1.20"),
            L"起動準備, コンピューター名：PC01, IPアドレス：192.168.1.20");
  EXPECT_EQ(AppText::StartupPreparationLog(L"", L""), L"起動準備, コンピューター名：, IPアドレス：");
  // An argument that itself holds "%s" is inserted literally.
  EXPECT_EQ(AppText::FormatText(L"a%sb%s", L"%s"), L"a%sb%s");
  EXPECT_EQ(AppText::FormatText(L"none", L"x"), L"none");
}

TEST(AppExceptionText, FullStopRule) {
  EXPECT_EQ(AppendFullStop(L"abc"), L"abc.");
  EXPECT_EQ(AppendFullStop(L"abc."), L"abc.");
  EXPECT_EQ(AppendFullStop(L"abc-"), L"abc-");    // '-' is below '.'
  EXPECT_EQ(AppendFullStop(L"abc/"), L"abc/.");   // '/' is above '.'
  EXPECT_EQ(AppendFullStop(L"終了しました。"), L"終了しました。."); // any non-ASCII character is above '.'
  EXPECT_EQ(AppendFullStop(L""), L"");
}

TEST(AppExceptionText, OnlyAccessViolationsAndInvalidPointersAreShown) {
  EXPECT_TRUE(IsShownException(std::make_exception_ptr(EAccessViolation(L"x"))));
  EXPECT_TRUE(IsShownException(std::make_exception_ptr(EInvalidPointer(L"x"))));
  EXPECT_FALSE(IsShownException(std::make_exception_ptr(EKavError(L"書き込めません"))));
  EXPECT_FALSE(IsShownException(std::make_exception_ptr(std::runtime_error("x"))));
  EXPECT_FALSE(IsShownException(std::make_exception_ptr(42)));
  EXPECT_FALSE(IsShownException(nullptr));
}

TEST(AppExceptionText, InnermostNonEmptyMessageOfANestedChain) {
  std::exception_ptr chain;
  try {
    try {
      try {
        throw EKavError(L"内側");
      } catch (...) {
        std::throw_with_nested(EKavError(L"中間"));
      }
    } catch (...) {
      std::throw_with_nested(EAccessViolation(L"外側"));
    }
  } catch (...) {
    chain = std::current_exception();
  }
  EXPECT_EQ(ExceptionMessage(chain), L"内側");
  EXPECT_TRUE(IsShownException(chain));
  // The error log names the innermost class, readably.
  EXPECT_EQ(ExceptionClassName(chain), "kav::EKavError");
  EXPECT_EQ(ExceptionClassName(std::make_exception_ptr(EAccessViolation(L"x"))), "kav::EAccessViolation");
  EXPECT_EQ(ExceptionClassName(std::make_exception_ptr(std::runtime_error("x"))), "std::runtime_error");
  EXPECT_EQ(ExceptionClassName(std::make_exception_ptr(42)), "int");
  EXPECT_EQ(ExceptionClassName(nullptr), "");

  // An empty innermost message falls back to the nearest non-empty one.
  std::exception_ptr emptyInner;
  try {
    try {
      throw EKavError(L"");
    } catch (...) {
      std::throw_with_nested(EAccessViolation(L"外側"));
    }
  } catch (...) {
    emptyInner = std::current_exception();
  }
  EXPECT_EQ(ExceptionMessage(emptyInner), L"外側");
  EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(std::runtime_error("plain"))), L"plain");
  EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(42)), L"");
}

TEST(AppExceptionText, AccessViolationText) {
  EXPECT_EQ(AccessViolationText(L"KAV90R_HotKeyController.exe", 0x401234, 0, AccessRead, 8),
            L"モジュール 'KAV90R_HotKeyController.exe' のアドレス 00401234 でアドレス 00000000 に対する読み込み違反がおきました");
  EXPECT_EQ(AccessViolationText(L"a.exe", 0x7FF6ABCD, 0x10, AccessWrite, 16),
            L"モジュール 'a.exe' のアドレス 000000007FF6ABCD でアドレス 0000000000000010 に対する書き込み違反がおきました");
  EXPECT_NE(AccessViolationText(L"a.exe", 1, 1, AccessExecute, 8).find(L"実行違反"), std::wstring::npos);
}
