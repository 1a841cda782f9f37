#include "common/core/LogRules.h"
#include "common/core/ResourceReport.h"
#include "common/core/TextUtil.h"

#include <gtest/gtest.h>

using namespace kav;

TEST(LogRules, LineHasStampTextAndCrLf) {
  const TDateTimeParts t{2016, 12, 1, 9, 30, 15, 123};
  EXPECT_EQ(FormatLogLine(t, L"起動"), L"2016/12/01 09:30:15:123 起動\r\n");
  // Every field is zero-padded to its width, the hour runs 0 to 23.
  const TDateTimeParts early{987, 1, 2, 0, 3, 4, 5};
  EXPECT_EQ(FormatLogLine(early, L""), L"0987/01/02 00:03:04:005 \r\n");
  const TDateTimeParts late{2099, 12, 31, 23, 59, 59, 999};
  EXPECT_EQ(FormatLogLine(late, L"a\tb"), L"2099/12/31 23:59:59:999 a\tb\r\n");
}

TEST(LogRules, FileStampAndNames) {
  const TDateTimeParts t{2016, 12, 1, 9, 30, 15, 999};
  EXPECT_EQ(FormatFileStamp(t), L"_20161201093015");
  const TDateTimeParts night{2024, 2, 29, 23, 5, 0, 0};
  EXPECT_EQ(FormatFileStamp(night), L"_20240229230500");
  EXPECT_EQ(BuildLogFileName(L"C:\\ProgramData\\KOVA\\KAV90R_HotKeyController\\Log\\", L"KAV90R_HotKeyController",
                             FormatFileStamp(t), L""),
            L"C:\\ProgramData\\KOVA\\KAV90R_HotKeyController\\Log\\KAV90R_HotKeyController_20161201093015.log");
  EXPECT_EQ(BuildLogFileName(L"D:\\Log", L"X", FormatFileStamp(t), L"_Unhandled"),
            L"D:\\Log\\X_20161201093015_Unhandled.log");
}

namespace {
constexpr int64_t KHour = 60LL * 60 * 1000;
constexpr int64_t KNow = 1000LL * 24 * KHour;  // any point on the clock
} // namespace

TEST(LogRules, PruneByAgeAfterTheRetention) {
  // One day: a day and a second old goes, 23 hours old stays.
  EXPECT_TRUE(ShouldPruneFile(L"X_20161201093015.log", L".log", KNow - 24 * KHour - 1000, KNow, 1));
  EXPECT_FALSE(ShouldPruneFile(L"X_20161201093015.log", L".log", KNow - 23 * KHour, KNow, 1));
  // Exactly the retention is not yet older than it.
  EXPECT_FALSE(ShouldPruneFile(L"a.log", L".log", KNow - 24 * KHour, KNow, 1));
  EXPECT_TRUE(ShouldPruneFile(L"a.log", L".log", KNow - 30 * 24 * KHour - 1, KNow, 30));
  EXPECT_FALSE(ShouldPruneFile(L"a.log", L".log", KNow - 29 * 24 * KHour, KNow, 30));
  // A file from the future (clock set back) is kept.
  EXPECT_FALSE(ShouldPruneFile(L"a.log", L".log", KNow + KHour, KNow, 1));
  EXPECT_TRUE(ShouldPruneFile(L"a.log", L".log", 0, KNow, 365));
}

TEST(LogRules, PruneOnlyTheWantedExtension) {
  const int64_t old = KNow - 400 * 24 * KHour;
  EXPECT_TRUE(ShouldPruneFile(L"OLD.LOG", L".log", old, KNow, 1));
  EXPECT_TRUE(ShouldPruneFile(L"X_20161201093015_Unhandled.log", L".log", old, KNow, 1));
  EXPECT_FALSE(ShouldPruneFile(L"notes.txt", L".log", old, KNow, 1));
  EXPECT_FALSE(ShouldPruneFile(L"VersionUp.csv", L".log", old, KNow, 1));
  EXPECT_FALSE(ShouldPruneFile(L"log", L".log", old, KNow, 1));
  EXPECT_FALSE(ShouldPruneFile(L"a.log.bak", L".log", old, KNow, 1));
  EXPECT_FALSE(ShouldPruneFile(L"a.logx", L".log", old, KNow, 1));
  // No extension wanted: every file counts.
  EXPECT_TRUE(ShouldPruneFile(L"notes.txt", L"", old, KNow, 1));
}

TEST(LogRules, NoRetentionOrNegativeRetentionPrunesNothing) {
  const int64_t ancient = KNow - 10000 * 24 * KHour;
  EXPECT_FALSE(ShouldPruneFile(L"a.log", L".log", ancient, KNow, 0));
  EXPECT_FALSE(ShouldPruneFile(L"a.log", L".log", ancient, KNow, -1));
  EXPECT_FALSE(ShouldPruneFile(L"a.log", L".log", ancient, KNow, INT32_MIN));
  // The largest retention does not overflow into pruning new files.
  EXPECT_FALSE(ShouldPruneFile(L"a.log", L".log", KNow - KHour, KNow, INT32_MAX));
}

TEST(ResourceReport, NamesCountsAndChanges) {
  const TResourceCounts start{10, 5, 40, 100, 4096};
  const TResourceCounts exit{12, 5, 38, 100, 8192};
  const std::wstring text = FormatResourceReport(start, exit);
  EXPECT_NE(text.find(L"GDI 12 (+2)"), std::wstring::npos) << ToUtf8(text);
  EXPECT_NE(text.find(L"USER 5 (+0)"), std::wstring::npos);
  EXPECT_NE(text.find(L"ハンドル 38 (-2)"), std::wstring::npos);
  EXPECT_NE(text.find(L"ヒープバイト 8192 (+4096)"), std::wstring::npos);
  EXPECT_EQ(text.find(L'\n'), std::wstring::npos);  // one log line
}
