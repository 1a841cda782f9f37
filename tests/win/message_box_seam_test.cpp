#include "common/win/MessageBoxSeam.h"

#include <gtest/gtest.h>

TEST(MessageBoxSeam, HandlerReceivesArgumentsAndAnswers) {
  HWND seenOwner = nullptr;
  std::wstring seenText, seenCaption;
  UINT seenFlags = 0;
  auto previous = kav::SetMessageBoxHandler(
      [&](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
        seenOwner = owner;
        seenText = text;
        seenCaption = caption;
        seenFlags = flags;
        return IDNO;
      });
  HWND owner = GetDesktopWindow();
  EXPECT_EQ(kav::ShowMessageBox(owner, L"本文", L"エラー", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(seenOwner, owner);
  EXPECT_EQ(seenText, L"本文");
  EXPECT_EQ(seenCaption, L"エラー");
  EXPECT_EQ(seenFlags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
  kav::SetMessageBoxHandler(previous);
}
