#include "app/core/LinkRefresh.h"

#include <gtest/gtest.h>

using namespace kav;

TEST(LinkRefresh, PortNamesMatchWithoutRegardToCaseOrDevicePrefix) {
  EXPECT_TRUE(SamePortName(L"COM5", L"COM5"));
  EXPECT_TRUE(SamePortName(L"COM5", L"com5"));
  EXPECT_TRUE(SamePortName(L"com12", L"\\\\.\\COM12"));
  EXPECT_TRUE(SamePortName(L"\\\\.\\COM12", L"\\\\?\\com12"));
  EXPECT_FALSE(SamePortName(L"COM5", L"COM15"));
  EXPECT_FALSE(SamePortName(L"COM1", L"COM10"));
  EXPECT_FALSE(SamePortName(L"COM5", L"\\\\.\\COM6"));
  EXPECT_FALSE(SamePortName(L"COM5", L"\\\\.COM5"));
  // Nothing stored matches nothing, not even an empty notice.
  EXPECT_FALSE(SamePortName(L"", L""));
  EXPECT_FALSE(SamePortName(L"", L"COM5"));
}

TEST(LinkRefresh, ABurstOfNoticesArmsOnceAndAReopenOutranksAConditionalOpen) {
  TLinkRefreshPlan plan;
  EXPECT_EQ(plan.Pending(), TLinkRefresh::None);
  EXPECT_TRUE(plan.InterfaceArrived());
  EXPECT_FALSE(plan.InterfaceArrived());
  EXPECT_EQ(plan.Pending(), TLinkRefresh::IfClosed);
  EXPECT_FALSE(plan.PortArrived());
  EXPECT_FALSE(plan.InterfaceArrived()); // does not weaken the reopen
  EXPECT_EQ(plan.Take(), TLinkRefresh::Reopen);
  EXPECT_EQ(plan.Take(), TLinkRefresh::None);
  // After the refresh the next notice arms again.
  EXPECT_TRUE(plan.PortArrived());
  EXPECT_EQ(plan.Take(), TLinkRefresh::Reopen);
}

TEST(LinkRefresh, EachResumeAsksOnceWhateverNoticesItBrings) {
  TLinkRefreshPlan plan;
  // Automatic notice, then the person's: one request.
  EXPECT_TRUE(plan.ResumedAutomatic());
  EXPECT_FALSE(plan.ResumedByUser());
  EXPECT_EQ(plan.Take(), TLinkRefresh::Reopen);
  // The next resume, also without a sleep notice seen in between, asks again;
  // its person notice may come long after the request went out.
  EXPECT_TRUE(plan.ResumedAutomatic());
  EXPECT_EQ(plan.Take(), TLinkRefresh::Reopen);
  EXPECT_FALSE(plan.ResumedByUser());
  EXPECT_EQ(plan.Take(), TLinkRefresh::None);
  // Older drivers send the person notice alone, once per resume.
  EXPECT_TRUE(plan.ResumedByUser());
  EXPECT_EQ(plan.Take(), TLinkRefresh::Reopen);
  EXPECT_TRUE(plan.ResumedByUser());
  EXPECT_EQ(plan.Take(), TLinkRefresh::Reopen);
  // Woken unattended, asleep again, then woken by a person: two resumes.
  EXPECT_TRUE(plan.ResumedAutomatic());
  EXPECT_EQ(plan.Take(), TLinkRefresh::Reopen);
  plan.Suspending();
  EXPECT_TRUE(plan.ResumedAutomatic());
  EXPECT_FALSE(plan.ResumedByUser());
  EXPECT_EQ(plan.Take(), TLinkRefresh::Reopen);
  // A resume that upgrades a pending conditional open.
  EXPECT_TRUE(plan.InterfaceArrived());
  EXPECT_FALSE(plan.ResumedAutomatic());
  EXPECT_EQ(plan.Take(), TLinkRefresh::Reopen);
}
