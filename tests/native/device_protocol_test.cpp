#include "device/core/Av90RProtocol.h"
#include "device/core/PortClaim.h"
#include "device/core/SerialWatchPolicy.h"
#include "device/core/clsAv90RStatus.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace kav;

namespace {

// Records every report as text, in order.
class TRecordingSink : public IAv90RStatusSink {
public:
  std::vector<std::string> Calls;
  void DoProcess_RcvPowerStat(bool Stat) override { Calls.push_back(std::string("power=") + (Stat ? "1" : "0")); }
  void DoProcess_RcvBlackoutStat(bool Stat) override { Calls.push_back(std::string("blackout=") + (Stat ? "1" : "0")); }
  void DoProcess_RcvSelectChannel(int32_t Channel) override { Calls.push_back("input=" + std::to_string(Channel)); }
};

// The receive side as the device module runs it: bytes in, one check per tick.
struct TRxModel {
  std::string Buff, Condition;
  TRecordingSink Sink;
  int Errors = 0;

  void Receive(const std::string& bytes) { AppendRxBytes(Buff, bytes.data(), bytes.size()); }
  TRxCheckResult Tick() {
    std::string body;
    const TRxCheckResult res = CheckRxBuff(Buff, body);
    if (res == TRxCheckResult::Frame) {
      try {
        DecodeReply(body, &Sink, Condition);
      } catch (const EAv90RConvertError&) {
        ++Errors;
      }
    }
    return res;
  }
  void TickUntilIdle() {
    // Every tick but the last takes at least one byte.
    for (std::size_t i = Buff.size() + 2; i > 0; --i) {
      const TRxCheckResult r = Tick();
      if (r == TRxCheckResult::Empty || r == TRxCheckResult::Incomplete) return;
    }
    FAIL() << "receive check never settled";
  }
};

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

} // namespace

TEST(DeviceProtocol, CommandFrames) {
  EXPECT_EQ(BuildCmdFrame(PowerCtrlCmd(true)), Bytes({0x1B, 0x57, 0x31, 0x0D}));
  EXPECT_EQ(BuildCmdFrame(PowerCtrlCmd(false)), Bytes({0x1B, 0x57, 0x30, 0x0D}));
  EXPECT_EQ(BuildCmdFrame(BlackoutCmd(true)), Bytes({0x1B, 0x42, 0x31, 0x0D}));
  EXPECT_EQ(BuildCmdFrame(BlackoutCmd(false)), Bytes({0x1B, 0x42, 0x30, 0x0D}));
  EXPECT_EQ(BuildCmdFrame(SelectChannelCmd(3)), Bytes({0x1B, 0x53, 0x33, 0x0D}));
  EXPECT_EQ(BuildCmdFrame(SelectChannelCmd(8)), Bytes({0x1B, 0x53, 0x38, 0x0D}));
  // No range check: the caller's number goes out as written.
  EXPECT_EQ(BuildCmdFrame(SelectChannelCmd(10)), Bytes({0x1B, 0x53, 0x31, 0x30, 0x0D}));
  EXPECT_EQ(BuildCmdFrame(RequestStatusCmd()), Bytes({0x1B, 0x43, 0x0D}));
}

TEST(DeviceProtocol, StatusRecordInit) {
  TAv90RStatus s;
  s.FPowerStat = true;
  s.FBlackoutStat = true;
  s.FSelChannel = 7;
  s.Init();
  EXPECT_FALSE(s.FPowerStat);
  EXPECT_FALSE(s.FBlackoutStat);
  EXPECT_EQ(s.FSelChannel, 0);
}

TEST(DeviceProtocol, SingleRepliesDecodeAndEmptyTheBuffer) {
  TRxModel m;
  m.Receive(Bytes({0x1B, 'w', '1', 0x0D}));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Frame);
  EXPECT_TRUE(m.Buff.empty());
  m.Receive("\x1b" "b0\r");
  m.Tick();
  m.Receive("\x1b" "s7\r");
  m.Tick();
  m.Receive("\x1b" "w0\r");
  m.Tick();
  EXPECT_EQ(m.Sink.Calls, (std::vector<std::string>{"power=1", "blackout=0", "input=7", "power=0"}));
  EXPECT_TRUE(m.Condition.empty()); // only a status reply sets it
}

TEST(DeviceProtocol, StatusReplyReportsInOrderAndSetsCondition) {
  TRxModel m;
  m.Receive(Bytes({0x1B, 0x63, 0x31, 0x35, 0x0D}));
  m.Tick();
  EXPECT_EQ(m.Sink.Calls, (std::vector<std::string>{"power=1", "blackout=1", "input=5"}));
  EXPECT_EQ(m.Condition, "c15");
}

TEST(DeviceProtocol, SplitFrameWaitsForItsEnd) {
  TRxModel m;
  m.Receive(Bytes({0x1B, 0x77}));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Incomplete);
  EXPECT_EQ(m.Tick(), TRxCheckResult::Incomplete);
  EXPECT_TRUE(m.Sink.Calls.empty());
  EXPECT_EQ(m.Buff, Bytes({0x1B, 0x77}));
  m.Receive(Bytes({0x31, 0x0D}));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Frame);
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"power=1"});
}

TEST(DeviceProtocol, MergedFramesDecodeOnePerTickInOrder) {
  TRxModel m;
  m.Receive(Bytes({0x1B, 0x62, 0x30, 0x0D, 0x1B, 0x73, 0x32, 0x0D}));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Frame);
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"blackout=0"});
  EXPECT_EQ(m.Tick(), TRxCheckResult::Frame);
  EXPECT_EQ(m.Sink.Calls, (std::vector<std::string>{"blackout=0", "input=2"}));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Empty);
}

TEST(DeviceProtocol, BytesWithoutFrameStartAreDropped) {
  TRxModel m;
  m.Receive(Bytes({0x0D}));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Dropped);
  EXPECT_TRUE(m.Buff.empty());
  m.Receive("noise\x80\xff\x00zz");
  EXPECT_EQ(m.Tick(), TRxCheckResult::Dropped);
  EXPECT_TRUE(m.Buff.empty());
  EXPECT_TRUE(m.Sink.Calls.empty());
}

TEST(DeviceProtocol, StrayBytesAheadOfAFrameAreDroppedAndTheFrameKept) {
  TRxModel m;
  m.Receive("xy\r\x1b" "w1\r");
  EXPECT_EQ(m.Tick(), TRxCheckResult::Frame);
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"power=1"});
  EXPECT_TRUE(m.Buff.empty());
  // Stray bytes ahead of a half frame: the stray part goes, the half frame stays.
  m.Receive("??\x1b" "b");
  EXPECT_EQ(m.Tick(), TRxCheckResult::Dropped);
  EXPECT_EQ(m.Buff, "\x1b" "b");
  EXPECT_EQ(m.Tick(), TRxCheckResult::Incomplete);
  m.Receive("1\r");
  m.Tick();
  EXPECT_EQ(m.Sink.Calls, (std::vector<std::string>{"power=1", "blackout=1"}));
}

TEST(DeviceProtocol, NoiseCostsOnlyItselfNeverTheReplyBehindIt) {
  TRxModel m;
  // An empty frame is dropped alone; the reply received with it decodes next tick.
  m.Receive(Bytes({0x1B, 0x0D, 0x1B, 0x77, 0x30, 0x0D}));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Dropped);
  EXPECT_EQ(m.Buff, Bytes({0x1B, 0x77, 0x30, 0x0D}));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Frame);
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"power=0"});
  EXPECT_TRUE(m.Buff.empty());

  // A stray ESC ahead of a reply: the frame starts at the last ESC before the CR.
  m.Sink.Calls.clear();
  m.Receive(Bytes({0x1B, 0x78, 0x78, 0x1B, 0x62, 0x31, 0x0D}));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Frame);
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"blackout=1"});
  EXPECT_TRUE(m.Buff.empty());

  // Several stray starts arriving bit by bit: only the last one waits, and
  // the frames behind the CR stay for the next ticks.
  m.Sink.Calls.clear();
  m.Receive("\x1b" "w\x1b\x1b" "s");
  EXPECT_EQ(m.Tick(), TRxCheckResult::Dropped);
  EXPECT_EQ(m.Buff, "\x1b" "s");
  EXPECT_EQ(m.Tick(), TRxCheckResult::Incomplete);
  m.Receive("2\r\x1b\r\x1b" "b0\r");
  m.TickUntilIdle();
  EXPECT_EQ(m.Sink.Calls, (std::vector<std::string>{"input=2", "blackout=0"}));
  EXPECT_TRUE(m.Buff.empty());
}

TEST(DeviceProtocol, UpperCaseAndUnknownLettersAreConsumedAndIgnored) {
  TRxModel m;
  m.Receive(Bytes({0x1B, 0x57, 0x31, 0x0D, 0x1B, 0x78, 0x0D, 0x1B, 0x43, 0x31, 0x32, 0x0D}));
  m.TickUntilIdle();
  EXPECT_TRUE(m.Buff.empty());
  EXPECT_TRUE(m.Sink.Calls.empty());
  EXPECT_TRUE(m.Condition.empty());
  EXPECT_EQ(m.Errors, 0);
}

TEST(DeviceProtocol, OnlyTheNamedCharactersAreRead) {
  TRxModel m;
  m.Receive("\x1b" "s12\r\x1b" "w1xyz\r\x1b" "c049\r");
  m.TickUntilIdle();
  EXPECT_EQ(m.Sink.Calls,
            (std::vector<std::string>{"input=1", "power=1", "power=1", "blackout=0", "input=4"}));
  EXPECT_EQ(m.Condition, "c049"); // the whole body is kept
}

TEST(DeviceProtocol, ConversionErrorsConsumeTheFrameAndLaterFramesStillDecode) {
  TRxModel m;
  m.Receive(Bytes({0x1B, 0x73, 0x41, 0x0D}) + "\x1b" "b1\r");
  EXPECT_EQ(m.Tick(), TRxCheckResult::Frame);
  EXPECT_EQ(m.Errors, 1);
  EXPECT_EQ(m.Buff, "\x1b" "b1\r");
  m.Tick();
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"blackout=1"});
}

TEST(DeviceProtocol, BrokenStatusReplyReportsWhatCameBeforeAndLeavesConditionAlone) {
  TRecordingSink sink;
  std::string condition = "c11";
  // Two characters only: power and blackout reported, input missing.
  EXPECT_THROW(DecodeReply("c1", &sink, condition), EAv90RConvertError);
  EXPECT_EQ(sink.Calls, (std::vector<std::string>{"power=1", "blackout=1"}));
  EXPECT_EQ(condition, "c11");
  sink.Calls.clear();
  EXPECT_THROW(DecodeReply("c0x", &sink, condition), EAv90RConvertError);
  EXPECT_EQ(condition, "c11");
  // A lone letter or a state other than 0/1 has no meaning: an error, no report.
  sink.Calls.clear();
  EXPECT_THROW(DecodeReply("s", &sink, condition), EAv90RConvertError);
  EXPECT_THROW(DecodeReply("w", &sink, condition), EAv90RConvertError);
  EXPECT_THROW(DecodeReply("b2", &sink, condition), EAv90RConvertError);
  EXPECT_TRUE(sink.Calls.empty());
  // The message names the offending byte, printable or not.
  try {
    DecodeReply("s\x80", &sink, condition);
    FAIL();
  } catch (const EAv90RConvertError& e) {
    EXPECT_NE(e.Message().find(L"#$80"), std::wstring::npos);
  }
}

TEST(DeviceProtocol, InputZeroAndNineAreNotRangeChecked) {
  TRecordingSink sink;
  std::string condition;
  DecodeReply("s0", &sink, condition);
  DecodeReply("s9", &sink, condition);
  EXPECT_EQ(sink.Calls, (std::vector<std::string>{"input=0", "input=9"}));
  DecodeReply("s5", nullptr, condition); // no sink: decoded and dropped
}

TEST(DeviceProtocol, LongFrameStartWithoutEndIsDroppedAsNoise) {
  TRxModel m;
  m.Receive("\x1b" + std::string(1000, 'a'));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Incomplete); // could still end
  m.Receive(std::string(100, 'a'));
  EXPECT_EQ(m.Tick(), TRxCheckResult::Dropped);
  EXPECT_TRUE(m.Buff.empty());
  // The CR arriving late is a stray byte; the next reply decodes normally.
  m.Receive("\r\x1b" "w1\r");
  m.TickUntilIdle();
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"power=1"});
}

TEST(DeviceProtocol, OverlongFrameWithEndIsNoiseButAReplyAtItsTailSurvives) {
  TRxModel m;
  // Noise that happens to end in CR: dropped including its CR, the next frame decodes.
  m.Receive("\x1b" + std::string(2000, 'w') + "\r\x1b" "b1\r");
  m.TickUntilIdle();
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"blackout=1"});
  EXPECT_TRUE(m.Buff.empty());
  // A reply that noise ran into: its frame start is kept.
  m.Sink.Calls.clear();
  m.Receive("\x1b" + std::string(1500, 'x') + "\x1b" "s4\r");
  m.TickUntilIdle();
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"input=4"});
  // Same with the end not there yet.
  m.Sink.Calls.clear();
  m.Receive("\x1b" + std::string(1500, 'x') + "\x1b" "s");
  m.TickUntilIdle();
  EXPECT_EQ(m.Buff, "\x1b" "s");
  m.Receive("6\r");
  m.TickUntilIdle();
  EXPECT_EQ(m.Sink.Calls, std::vector<std::string>{"input=6"});
}

TEST(DeviceProtocol, FloodKeepsTheBufferBoundedAndTheNewestBytes) {
  std::string buff;
  const std::string frame = "\x1b" "w1\r";
  for (int i = 0; i < 10000; ++i) AppendRxBytes(buff, frame.data(), frame.size());
  EXPECT_EQ(buff.size(), kMaxRxBuffBytes);
  const std::string tail = "\x1b" "s3\r";
  AppendRxBytes(buff, tail.data(), tail.size());
  EXPECT_EQ(buff.substr(buff.size() - 4), tail);
  const std::string huge(3 * kMaxRxBuffBytes, 'z');
  AppendRxBytes(buff, huge.data(), huge.size());
  EXPECT_EQ(buff, std::string(kMaxRxBuffBytes, 'z'));
}

// Random bytes, half frames and floods in random chunks: the check never
// crashes (sanitizers watch), always makes progress and keeps the buffer bounded.
TEST(DeviceProtocol, FuzzRandomInputStaysBoundedAndSettles) {
  std::mt19937 rng(20240611u);
  const std::string alphabet = std::string("\x1b\x1b\x1b\r\r\r") + "wbscWBSC0123456789x" + std::string(1, '\0') + "\x80\xff";
  for (int round = 0; round < 300; ++round) {
    TRxModel m;
    const int chunks = 1 + static_cast<int>(rng() % 200);
    for (int c = 0; c < chunks; ++c) {
      std::string chunk;
      const std::size_t len = rng() % 5 == 0 ? rng() % 3000 : rng() % 16;
      for (std::size_t i = 0; i < len; ++i) {
        const unsigned pick = rng() % 4;
        chunk += pick == 0 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
      }
      m.Receive(chunk);
      ASSERT_LE(m.Buff.size(), kMaxRxBuffBytes);
      const int ticks = static_cast<int>(rng() % 4);
      for (int t = 0; t < ticks; ++t) {
        const std::size_t before = m.Buff.size();
        const TRxCheckResult r = m.Tick();
        // Any outcome but "waiting" removes bytes.
        if (r == TRxCheckResult::Frame || r == TRxCheckResult::Dropped) {
          ASSERT_LT(m.Buff.size(), before);
        }
        if (r == TRxCheckResult::Incomplete) {
          ASSERT_EQ(m.Buff.size(), before);
          ASSERT_EQ(m.Buff[0], '\x1b');
          ASSERT_EQ(m.Buff.find('\x1b', 1), std::string::npos);
          ASSERT_LE(m.Buff.size(), kMaxFrameBytes);
        }
      }
    }
    // Without new bytes the buffer settles: either empty or one short waiting frame start.
    m.TickUntilIdle();
    if (!m.Buff.empty()) {
      EXPECT_EQ(m.Buff[0], '\x1b');
      EXPECT_EQ(m.Buff.find('\x1b', 1), std::string::npos);
      EXPECT_EQ(m.Buff.find('\r'), std::string::npos);
      EXPECT_LE(m.Buff.size(), kMaxFrameBytes);
    }
  }
}

TEST(DeviceSerialWatch, EmptyWaitsTurnToPollingThatTriesARealWaitAgainAfterAMinute) {
  using P = kav::TSerialWatchPolicy;
  static_assert(P::KPollIntervalMs >= 10 && P::KPollIntervalMs <= 15);
  P policy(true);
  EXPECT_FALSE(policy.Polling());
  // A long wait, or one that ended as bytes came in, did its job and breaks a run.
  policy.WaitEndedEmpty(1.0, false, 0);
  policy.WaitEndedEmpty(P::KEmptyWaitMs, false, 0);
  policy.WaitEndedEmpty(1.0, true, 0);
  policy.WaitDelivered();
  policy.WaitEndedEmpty(1.0, false, 0);
  EXPECT_FALSE(policy.Polling());
  policy.WaitEndedEmpty(1.0, false, 1000);
  ASSERT_TRUE(policy.Polling());
  policy.Polled(1000 + P::KPollingPeriodMs - 1);
  EXPECT_TRUE(policy.Polling());
  policy.Polled(1000 + P::KPollingPeriodMs);
  EXPECT_FALSE(policy.Polling());
  // The count starts afresh: one empty wait is not yet a run.
  policy.WaitEndedEmpty(1.0, false, 70000);
  EXPECT_FALSE(policy.Polling());
  // Without anything to wait with, the watcher polls for good.
  P cannotWait(false);
  cannotWait.Polled(10 * P::KPollingPeriodMs);
  EXPECT_TRUE(cannotWait.Polling());
}

TEST(DevicePortClaim, OneNamePerPortWhateverItsSpelling) {
  EXPECT_EQ(kav::PortClaimName(L"COM5"), L"Global\\KAV90R_HotKeyController.Port.COM5");
  EXPECT_EQ(kav::PortClaimName(L"com5"), kav::PortClaimName(L"COM5"));
  EXPECT_EQ(kav::PortClaimName(L"\\\\.\\Com5"), kav::PortClaimName(L"COM5"));
  EXPECT_NE(kav::PortClaimName(L"COM15"), kav::PortClaimName(L"COM5"));
  // Object names take no backslash after the namespace.
  EXPECT_EQ(kav::PortClaimName(L"a\\b").find(L'\\', 7), std::wstring::npos);
}
