// The device module end to end against the switcher simulator under Wine:
// command frames on the wire, port handling, the communication test, reply
// decoding to the status sink, misbehaving devices and recovery.
#include "device/win/dmComPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/win/CallbackGuard.h"
#include "device/core/Av90RProtocol.h"
#include "tests/win/support/Av90RSimulator.h"
#include "tests/win/support/MessagePump.h"

using kav::TmodComPort;
using namespace kavtest;

namespace {

constexpr int kCom = 32;
constexpr int kOtherCom = 34;
const wchar_t kMissingPort[] = L"COM39";

class TRecordingSink : public kav::IAv90RStatusSink {
public:
  std::vector<std::string> Calls;
  void DoProcess_RcvPowerStat(bool Stat) override { Calls.push_back(std::string("power=") + (Stat ? "1" : "0")); }
  void DoProcess_RcvBlackoutStat(bool Stat) override { Calls.push_back(std::string("blackout=") + (Stat ? "1" : "0")); }
  void DoProcess_RcvSelectChannel(int32_t Channel) override { Calls.push_back("input=" + std::to_string(Channel)); }
};

using Strings = std::vector<std::string>;

// Moves the module to the simulator's port and asks for the status, as the
// program's start-up does; false when the request could not be sent.
bool Connect(TmodComPort& Mod, const TAv90RSimulator& Sim) {
  Mod.SetComPort(Sim.Port());
  return Mod.SendRequestStatus();
}

// Milliseconds since t0 on a fine clock (Wine's tick count moves in 16 ms steps).
using TClock = std::chrono::steady_clock;
long long Elapsed(TClock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - t0).count();
}

} // namespace

TEST(DeviceModComPort, CommandsGoOutAsFramesOverOneOpenAndRepliesAreReported) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 0 --blackout 0 --input 1");
  TRecordingSink sink;
  TmodComPort mod(&sink);
  mod.SetComPort(sim.Port());
  EXPECT_FALSE(mod.ComPort().Connected()); // stored only; the first command opens it

  TClock::time_point t0 = TClock::now();
  EXPECT_TRUE(mod.ExecPowerCtrl(true));
  EXPECT_GE(Elapsed(t0), 100);
  EXPECT_TRUE(mod.ExecBlackout(true));
  EXPECT_TRUE(mod.SelectChannel(8));
  EXPECT_TRUE(mod.SelectChannel(10)); // no range check: goes out as "S10"
  EXPECT_TRUE(mod.SendRequestStatus());
  EXPECT_EQ(mod.ComPort().OpenCount(), 1u);
  ASSERT_TRUE(PumpUntil([&] { return sim.Frames().size() >= 5; }, 5000));
  EXPECT_EQ(sim.Frames(), (Strings{"W1", "B1", "S8", "S10", "C"}));

  // The simulator ignores input 10; everything else is answered and decoded in order.
  const Strings expected{"power=1", "blackout=1", "input=8", "power=1", "blackout=1", "input=8"};
  ASSERT_TRUE(PumpUntil([&] { return sink.Calls.size() >= expected.size(); }, 5000));
  PumpFor(50);
  EXPECT_EQ(sink.Calls, expected);
  EXPECT_EQ(mod.ConditionCmd(), "c18");
  EXPECT_TRUE(mod.RxBuff().empty());
  EXPECT_FALSE(mod.RxBuffCheckActive()); // idle link, no timer

  // No sink: replies are decoded and dropped.
  mod.SetSink(nullptr);
  EXPECT_TRUE(mod.ExecBlackout(false));
  ASSERT_TRUE(PumpUntil([&] { return sim.Frames().size() >= 6; }, 5000));
  PumpFor(100);
  EXPECT_EQ(sink.Calls.size(), expected.size());
}

TEST(DeviceModComPort, SetComPortSameNameKeepsTheChannelAnotherNameReopens) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 1");
  TAv90RSimulator other(KAV_SIMULATOR, kOtherCom, "--power 1");
  TmodComPort mod;
  ASSERT_TRUE(Connect(mod, sim));
  EXPECT_EQ(mod.ComPort().OpenCount(), 1u);

  mod.SetComPort(sim.Port());
  EXPECT_TRUE(mod.ComPort().Connected());
  EXPECT_EQ(mod.ComPort().OpenCount(), 1u);

  mod.SetComPort(other.Port());
  EXPECT_TRUE(mod.ComPort().Connected());
  EXPECT_EQ(mod.ComPort().OpenCount(), 2u);
  EXPECT_EQ(mod.ComPort().Port(), other.Port());
  ASSERT_TRUE(mod.SendRequestStatus());
  ASSERT_TRUE(PumpUntil([&] { return other.Frames() == Strings{"C"}; }, 5000));
  EXPECT_EQ(sim.Frames(), Strings{"C"});

  // A port that cannot be opened: closed, no error escapes, commands fail until it exists.
  mod.SetComPort(kMissingPort);
  EXPECT_FALSE(mod.ComPort().Connected());
  EXPECT_FALSE(mod.SendRequestStatus());
  mod.SetComPort(sim.Port()); // while closed: only stored
  EXPECT_FALSE(mod.ComPort().Connected());
  EXPECT_TRUE(mod.SendRequestStatus());
  ASSERT_TRUE(PumpUntil([&] { return sim.Frames().size() == 2; }, 5000));
}

TEST(DeviceModComPort, TestComPortWithLiveSilentAndMissingPorts) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 1");
  TRecordingSink sink;
  TmodComPort mod(&sink);

  TClock::time_point t0 = TClock::now();
  EXPECT_TRUE(mod.TestComPort(sim.Port()));
  EXPECT_LT(Elapsed(t0), 1000);
  EXPECT_EQ(mod.ConditionCmd().substr(0, 1), "c");

  // A reply decoded before the test does not count.
  ASSERT_EQ(sim.Command("silent 1"), "ok");
  ASSERT_TRUE(IsOk(sim.Command("report c11")));
  ASSERT_TRUE(PumpUntil([&] { return mod.ConditionCmd() == "c11"; }, 5000));
  t0 = TClock::now();
  EXPECT_FALSE(mod.TestComPort(sim.Port()));
  const long long silent = Elapsed(t0);
  EXPECT_GE(silent, 990);
  EXPECT_LT(silent, 2500);
  EXPECT_TRUE(mod.ComPort().Connected()); // stays open on the tested port
  EXPECT_EQ(mod.ComPort().Port(), sim.Port());

  // An answer that is not a status reply does not count either: the
  // switcher reports its blackout 300 ms into the test and nothing else.
  ASSERT_EQ(sim.Command("delay 300"), "ok");
  ASSERT_EQ(sim.Command("report b1"), "ok queued");
  sink.Calls.clear();
  t0 = TClock::now();
  EXPECT_FALSE(mod.TestComPort(sim.Port()));
  EXPECT_GE(Elapsed(t0), 990);
  EXPECT_EQ(sink.Calls, Strings{"blackout=1"}); // it arrived and was decoded during the wait
  EXPECT_EQ(mod.ConditionCmd(), "");
  ASSERT_EQ(sim.Command("silent 0"), "ok");

  t0 = TClock::now();
  EXPECT_FALSE(mod.TestComPort(kMissingPort));
  EXPECT_LT(Elapsed(t0), 500);
  EXPECT_FALSE(mod.ComPort().Connected());
  EXPECT_EQ(mod.ComPort().Port(), std::wstring(kMissingPort));

  // A late but timely reply (300 ms) passes.
  t0 = TClock::now();
  EXPECT_TRUE(mod.TestComPort(sim.Port()));
  EXPECT_GE(Elapsed(t0), 250);
}

TEST(DeviceModComPort, PowerCommandPausesAlsoWhenThePortCannotBeOpened) {
  TmodComPort mod;
  mod.SetComPort(kMissingPort);
  const TClock::time_point t0 = TClock::now();
  EXPECT_FALSE(mod.ExecPowerCtrl(false));
  EXPECT_GE(Elapsed(t0), 100);
  EXPECT_FALSE(mod.ExecBlackout(true));
  EXPECT_FALSE(mod.SelectChannel(1));
}

TEST(DeviceModComPort, SplitMergedNoisyLateAndUnsolicitedRepliesAreDecoded) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 1 --blackout 0 --input 2");
  TRecordingSink sink;
  TmodComPort mod(&sink);
  mod.SetComPort(sim.Port());

  ASSERT_EQ(sim.Command("split 1"), "ok");
  ASSERT_TRUE(mod.SendRequestStatus());
  ASSERT_TRUE(PumpUntil([&] { return sink.Calls.size() >= 3; }, 5000));
  EXPECT_EQ(sink.Calls, (Strings{"power=1", "blackout=0", "input=2"}));
  ASSERT_EQ(sim.Command("split 0"), "ok");

  sink.Calls.clear();
  ASSERT_EQ(sim.Command("merge 1"), "ok");
  ASSERT_TRUE(mod.SelectChannel(5));
  ASSERT_TRUE(mod.ExecBlackout(true));
  ASSERT_TRUE(PumpUntil([&] { return sink.Calls.size() >= 2; }, 5000));
  EXPECT_EQ(sink.Calls, (Strings{"input=5", "blackout=1"}));
  ASSERT_EQ(sim.Command("merge 0"), "ok");

  sink.Calls.clear();
  ASSERT_EQ(sim.Command("noise 1"), "ok");
  ASSERT_TRUE(mod.SelectChannel(3));
  ASSERT_TRUE(PumpUntil([&] { return !sink.Calls.empty(); }, 5000));
  EXPECT_EQ(sink.Calls, Strings{"input=3"});
  ASSERT_EQ(sim.Command("noise 0"), "ok");

  sink.Calls.clear();
  ASSERT_TRUE(IsOk(sim.Command("report w0")));
  ASSERT_TRUE(PumpUntil([&] { return !sink.Calls.empty(); }, 5000));
  EXPECT_EQ(sink.Calls, Strings{"power=0"});
  PumpFor(50);
  EXPECT_FALSE(mod.RxBuffCheckActive());
}

TEST(DeviceModComPort, ConversionErrorReachesTheApplicationHandlerAndLaterFramesDecode) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 1");
  TRecordingSink sink;
  TmodComPort mod(&sink);
  std::vector<std::string> errors;
  auto previous = kav::SetCallbackExceptionHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const kav::EAv90RConvertError& err) {
      errors.push_back(err.what());
    } catch (...) {
      errors.push_back("other");
    }
  });
  ASSERT_TRUE(Connect(mod, sim));
  ASSERT_TRUE(PumpUntil([&] { return sink.Calls.size() >= 3; }, 5000));
  sink.Calls.clear();
  // "s" with a letter for a digit, then a good frame, in one write.
  ASSERT_TRUE(IsOk(sim.Command("raw 1B7341 0D 1B6231 0D")));
  ASSERT_TRUE(PumpUntil([&] { return !sink.Calls.empty(); }, 5000));
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_NE(errors.empty() ? std::string() : errors[0], "other");
  EXPECT_EQ(sink.Calls, Strings{"blackout=1"});
  PumpFor(50);
  EXPECT_FALSE(mod.RxBuffCheckActive());
  kav::SetCallbackExceptionHandler(previous);
}

TEST(DeviceModComPort, HalfFramesNoiseAndFloodsKeepTheBufferBounded) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 1");
  TRecordingSink sink;
  TmodComPort mod(&sink);
  ASSERT_TRUE(Connect(mod, sim));
  ASSERT_TRUE(PumpUntil([&] { return sink.Calls.size() >= 3; }, 5000));
  sink.Calls.clear();

  // A half frame waits for its end without a running timer.
  ASSERT_TRUE(IsOk(sim.Command("raw 1B77")));
  ASSERT_TRUE(PumpUntil([&] { return mod.RxBuff() == "\x1bw" && !mod.RxBuffCheckActive(); }, 5000));
  ASSERT_TRUE(IsOk(sim.Command("raw 310D")));
  ASSERT_TRUE(PumpUntil([&] { return !sink.Calls.empty(); }, 5000));
  EXPECT_EQ(sink.Calls, Strings{"power=1"});

  // Noise with frame starts but no end, far beyond a frame's length, then a reply.
  sink.Calls.clear();
  std::string noise = "1B";
  for (int i = 0; i < 3000; ++i) noise += "78";
  std::size_t largest = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(IsOk(sim.Command("raw " + noise)));
    PumpUntil([&] {
      largest = std::max(largest, mod.RxBuff().size());
      return false;
    }, 30);
  }
  ASSERT_TRUE(IsOk(sim.Command("report b0")));
  ASSERT_TRUE(PumpUntil([&] {
    largest = std::max(largest, mod.RxBuff().size());
    return !sink.Calls.empty();
  }, 5000));
  EXPECT_EQ(sink.Calls, Strings{"blackout=0"});
  EXPECT_LE(largest, kav::kMaxRxBuffBytes);

  // A flood of good frames, then one more reply: bounded, worked off in
  // order (the last reply comes last), then idle.
  sink.Calls.clear();
  std::string flood;
  for (int i = 0; i < 300; ++i) flood += "1B7331 0D";
  ASSERT_TRUE(IsOk(sim.Command("raw " + flood)));
  ASSERT_TRUE(IsOk(sim.Command("report w0")));
  ASSERT_TRUE(PumpUntil([&] {
    largest = std::max(largest, mod.RxBuff().size());
    return !sink.Calls.empty() && sink.Calls.back() == "power=0";
  }, 30000));
  EXPECT_LE(largest, kav::kMaxRxBuffBytes);
  EXPECT_GT(sink.Calls.size(), 100u);
  for (std::size_t i = 0; i + 1 < sink.Calls.size(); ++i) ASSERT_EQ(sink.Calls[i], "input=1");
  PumpFor(50);
  EXPECT_TRUE(mod.RxBuff().empty());
  EXPECT_FALSE(mod.RxBuffCheckActive());
}

TEST(DeviceModComPort, VanishingSwitcherIsSurvivedAndTheNextCommandAfterItsReturnSucceeds) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 1");
  TmodComPort mod;
  ASSERT_TRUE(Connect(mod, sim));
  ASSERT_EQ(sim.Command("vanish"), "ok");
  ASSERT_TRUE(PumpUntil([&] { return !mod.ComPort().Connected(); }, 5000));
  EXPECT_FALSE(mod.SendRequestStatus()); // the port is not there
  ASSERT_TRUE(IsOk(sim.Command("return")));
  EXPECT_TRUE(mod.SendRequestStatus());
  ASSERT_TRUE(PumpUntil([&] { return sim.Frames() == Strings{"C", "C"}; }, 5000));
}

TEST(DeviceModComPort, FailedWriteClosesTheChannelSoTheNextCommandReopens) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 1");
  TmodComPort mod;
  ASSERT_TRUE(Connect(mod, sim));
  ASSERT_EQ(sim.Command("vanish"), "ok");
  // No message processing in between: the write itself finds the device gone.
  EXPECT_FALSE(mod.SendRequestStatus());
  EXPECT_FALSE(mod.ComPort().Connected());
  ASSERT_TRUE(IsOk(sim.Command("return")));
  EXPECT_TRUE(mod.SendRequestStatus());
  EXPECT_EQ(mod.ComPort().OpenCount(), 2u);
}

TEST(DeviceModComPort, WriteCutShortByCtsIsAFailedSendAndLeavesNothingBehind) {
  TAv90RSimulator sim(KAV_SIMULATOR, kCom, "--power 1 --silent");
  TmodComPort mod;
  ASSERT_TRUE(Connect(mod, sim));
  ASSERT_TRUE(PumpUntil([&] { return sim.Received() == 3; }, 5000));
  ASSERT_EQ(sim.Command("cts 0"), "ok");
  const TClock::time_point t0 = TClock::now();
  EXPECT_FALSE(mod.SelectChannel(4));
  const long long held = Elapsed(t0);
  EXPECT_GE(held, 1300); // 100 ms x 4 bytes + 1000 ms
  EXPECT_LT(held, 2500);
  // The switcher is there, only not listening: the channel stays open.
  EXPECT_TRUE(mod.ComPort().Connected());
  ASSERT_EQ(sim.Command("cts 1"), "ok");
  // Nothing of the cut frame follows once CTS is back...
  PumpFor(300);
  EXPECT_EQ(sim.Received(), 3u);
  // ...and the next command goes out as one clean frame on the same open.
  EXPECT_TRUE(mod.SelectChannel(5));
  ASSERT_TRUE(PumpUntil([&] { return sim.Received() >= 7; }, 5000));
  PumpFor(100);
  EXPECT_EQ(sim.Received(), 7u);
  EXPECT_EQ(sim.Frames(), (Strings{"C", "S5"}));
  EXPECT_EQ(mod.ComPort().OpenCount(), 1u);
}
