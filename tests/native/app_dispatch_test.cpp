#include "app/core/HotKeyDispatch.h"
#include "app/core/RemoteCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/support/FakeDevice.h"

using namespace kav;
using kavtest::TFakeDevice;

namespace {

TAv90RStatus Status(bool power, bool blackout) {
  TAv90RStatus s;
  s.FPowerStat = power;
  s.FBlackoutStat = blackout;
  return s;
}

std::vector<std::string> Press(int index, const TAv90RStatus& s, bool powerUp, TFakeDevice& dev,
                             THotKeyActionResult* result = nullptr) {
  dev.Calls.clear();
  const auto r = ExecuteHotKeyAction(PlanHotKeyAction(index, s, powerUp), dev);
  if (result) *result = r;
  return dev.Calls;
}

} // namespace

TEST(AppDispatch, IdentifierMatchIsWideAndNeverMatchesNegativeIds) {
  EXPECT_TRUE(HotKeyIdMatches(0xC001, 0xC001u));
  EXPECT_FALSE(HotKeyIdMatches(0xC001, 0xC002u));
  // -1 as a 32-bit pattern is 0xFFFFFFFF; a narrow comparison would take it for a match.
  EXPECT_FALSE(HotKeyIdMatches(-1, 0xFFFFFFFFu));
  EXPECT_FALSE(HotKeyIdMatches(INT32_MIN, 0x80000000u));
  EXPECT_TRUE(HotKeyIdMatches(0, 0u));
}

TEST(AppDispatch, EachIndexSendsItsOwnCommandFromTheReportedState) {
  TFakeDevice dev;
  // Power toggles from the reported state; before any report power is off, so the key powers up.
  EXPECT_EQ(Press(0, Status(false, false), true, dev), (std::vector<std::string>{"W1"}));
  EXPECT_EQ(Press(0, Status(true, false), true, dev), (std::vector<std::string>{"W0"}));
  EXPECT_EQ(Press(1, Status(true, false), true, dev), (std::vector<std::string>{"B1"}));
  EXPECT_EQ(Press(1, Status(true, true), true, dev), (std::vector<std::string>{"B0"}));
  // Inputs: index 2 is input 1 ... index 9 is input 8.
  for (int index = 2; index <= 9; ++index)
    EXPECT_EQ(Press(index, Status(true, false), true, dev), (std::vector<std::string>{"S" + std::to_string(index - 1)}))
        << "index " << index;
}

TEST(AppDispatch, IndexesWithoutActionSendNothing) {
  TFakeDevice dev;
  THotKeyActionResult r{};
  for (int index : {-1, 10, 11, 1000}) {
    EXPECT_TRUE(Press(index, Status(false, false), true, dev, &r).empty()) << index;
    EXPECT_EQ(r, THotKeyActionResult::NoAction);
  }
}

TEST(AppDispatch, PowerUpRuleAppliesToBlackoutAndInputsOnlyWhenOff) {
  TFakeDevice dev;
  EXPECT_EQ(Press(1, Status(false, true), true, dev), (std::vector<std::string>{"W1", "B0"}));
  EXPECT_EQ(Press(5, Status(false, false), true, dev), (std::vector<std::string>{"W1", "S4"}));
  // Power reported on: nothing extra.
  EXPECT_EQ(Press(9, Status(true, false), true, dev), (std::vector<std::string>{"S8"}));
  // Rule switched off: only the command, whatever the power state.
  EXPECT_EQ(Press(1, Status(false, false), false, dev), (std::vector<std::string>{"B1"}));
  EXPECT_EQ(Press(2, Status(false, false), false, dev), (std::vector<std::string>{"S1"}));
  // The power key itself never powers up first.
  EXPECT_EQ(Press(0, Status(false, false), true, dev), (std::vector<std::string>{"W1"}));
}

TEST(AppDispatch, FailedPowerCommandIsAPortErrorAndStopsTheCommand) {
  TFakeDevice dev;
  dev.PowerResult = false;
  dev.FrameResult = false;
  THotKeyActionResult r{};
  EXPECT_EQ(Press(1, Status(false, false), true, dev, &r), (std::vector<std::string>{"W1"}));
  EXPECT_EQ(r, THotKeyActionResult::PortError);
  EXPECT_EQ(Press(0, Status(true, false), true, dev, &r), (std::vector<std::string>{"W0"}));
  EXPECT_EQ(r, THotKeyActionResult::PortError);
  // A failing blackout or input send is not an error the user is told about.
  EXPECT_EQ(Press(1, Status(true, false), true, dev, &r), (std::vector<std::string>{"B1"}));
  EXPECT_EQ(r, THotKeyActionResult::Sent);
}

TEST(AppDispatch, StartupCommandsWithAndWithoutPowerUp) {
  TFakeDevice dev;
  EXPECT_TRUE(RunStartupCommands(L"COM5", true, dev));
  EXPECT_EQ(dev.Calls, (std::vector<std::string>{"port COM5", "W1", "C"}));

  dev.Calls.clear();
  EXPECT_TRUE(RunStartupCommands(L"COM5", false, dev));
  EXPECT_EQ(dev.Calls, (std::vector<std::string>{"port COM5", "C"}));

  // A failed power-up skips the status request.
  dev.Calls.clear();
  dev.PowerResult = false;
  EXPECT_FALSE(RunStartupCommands(L"COM9", true, dev));
  EXPECT_EQ(dev.Calls, (std::vector<std::string>{"port COM9", "W1"}));

  dev.Calls.clear();
  dev.PowerResult = true;
  dev.StatusResult = false;
  EXPECT_FALSE(RunStartupCommands(L"COM9", false, dev));
  EXPECT_EQ(dev.Calls, (std::vector<std::string>{"port COM9", "C"}));
}

TEST(AppDispatch, CommandLineCommandsActLikeTheirHotKeysWithTheNamedState) {
  using K = TRemoteCommandKind;
  TFakeDevice dev;
  auto run = [&](TRemoteCommand c, TAv90RStatus s, bool powerUp, THotKeyActionResult* r = nullptr,
                 bool* written = nullptr) {
    dev.Calls.clear();
    const auto result = ExecuteHotKeyAction(PlanRemoteCommand(c, s, powerUp), dev, written);
    if (r) *r = result;
    return dev.Calls;
  };
  using V = std::vector<std::string>;
  // On and off send that state whatever was reported; toggle negates the report.
  EXPECT_EQ(run({K::Power, KRemoteOn}, Status(true, false), true), V{"W1"});
  EXPECT_EQ(run({K::Power, KRemoteOff}, Status(false, false), true), V{"W0"});
  EXPECT_EQ(run({K::Power, KRemoteToggle}, Status(true, false), true), V{"W0"});
  EXPECT_EQ(run({K::Blackout, KRemoteOn}, Status(true, true), true), V{"B1"});
  EXPECT_EQ(run({K::Blackout, KRemoteOff}, Status(true, false), true), V{"B0"});
  EXPECT_EQ(run({K::Blackout, KRemoteToggle}, Status(true, true), true), V{"B0"});
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(run({K::Input, n}, Status(true, false), true), V{"S" + std::to_string(n)});
  // The power-up rule: before blackout and inputs while power is reported off, never before power.
  EXPECT_EQ(run({K::Blackout, KRemoteOff}, Status(false, true), true), (V{"W1", "B0"}));
  EXPECT_EQ(run({K::Input, 2}, Status(false, false), true), (V{"W1", "S2"}));
  EXPECT_EQ(run({K::Input, 2}, Status(false, false), false), V{"S2"});
  EXPECT_EQ(run({K::Power, KRemoteOff}, Status(false, false), true), V{"W0"});
  // Hot-key control and the status touch no switcher.
  EXPECT_TRUE(run({K::HotKey, KRemoteOn}, Status(false, false), true).empty());
  EXPECT_TRUE(run({K::Status, 0}, Status(false, false), true).empty());

  // What reaches the caller: a failed input frame is reported, a failed power-up stops the command.
  THotKeyActionResult r{};
  bool written = true;
  dev.FrameResult = false;
  EXPECT_EQ(run({K::Input, 4}, Status(true, false), true, &r, &written), V{"S4"});
  EXPECT_EQ(r, THotKeyActionResult::Sent); // a hot key shows nothing for it ...
  EXPECT_FALSE(written);                   // ... a command does
  dev.FrameResult = true;
  EXPECT_EQ(run({K::Blackout, KRemoteOn}, Status(true, false), true, &r, &written), V{"B1"});
  EXPECT_TRUE(written);
  dev.PowerResult = false;
  EXPECT_EQ(run({K::Input, 4}, Status(false, false), true, &r, &written), V{"W1"});
  EXPECT_EQ(r, THotKeyActionResult::PortError);
  EXPECT_FALSE(written);
  EXPECT_EQ(run({K::Power, KRemoteOn}, Status(false, false), true, &r, &written), V{"W1"});
  EXPECT_FALSE(written);
}
