#include "common/core/TextUtil.h"

#include <gtest/gtest.h>

using kav::FromUtf8;
using kav::ToUtf8;

TEST(TextUtil, JapaneseRoundTrip) {
  const std::wstring text = L"KTX-AV90R制御ソフト\u3000\u30FB（Ctrl + M）";
  const std::string utf8 = ToUtf8(text);
  EXPECT_EQ(utf8, "KTX-AV90R\xE5\x88\xB6\xE5\xBE\xA1\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\xE3\x80\x80\xE3\x83\xBB"
                  "\xEF\xBC\x88" "Ctrl + M\xEF\xBC\x89");
  EXPECT_EQ(FromUtf8(utf8), text);
}

TEST(TextUtil, InvalidBytesBecomeReplacementCharacter) {
  EXPECT_EQ(FromUtf8("a\xFF" "b"), L"a\uFFFD" L"b");
  EXPECT_EQ(FromUtf8("\xE3\x81"), L"\uFFFD\uFFFD");      // truncated sequence
  EXPECT_EQ(FromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");      // over-long encoding
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
}

TEST(TextUtil, FourByteSequences) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  const std::wstring wide = FromUtf8(emoji);
  EXPECT_EQ(ToUtf8(wide), emoji);
}
