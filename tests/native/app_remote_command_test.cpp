#include "app/core/RemoteCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kav;

namespace {

using TArgs = std::vector<std::wstring>;
using K = TRemoteCommandKind;
using TLine = TRemoteCommandLine::TKind;

TRemoteCommandLine Parse(const TArgs& args) { return ParseRemoteCommandLine(args); }

::testing::AssertionResult IsCommand(const TArgs& args, K kind, int32_t value) {
  const auto r = Parse(args);
  if (r.Kind != TLine::Command) return ::testing::AssertionFailure() << "not a command";
  if (!(r.Command == TRemoteCommand{kind, value}))
    return ::testing::AssertionFailure() << "kind " << static_cast<int>(r.Command.Kind) << " value " << r.Command.Value;
  return ::testing::AssertionSuccess();
}

TLine KindOf(const TArgs& args) { return Parse(args).Kind; }

} // namespace

TEST(RemoteCommandLine, EveryCommandInAnyCase) {
  EXPECT_TRUE(IsCommand({L"/power", L"on"}, K::Power, KRemoteOn));
  EXPECT_TRUE(IsCommand({L"/power", L"off"}, K::Power, KRemoteOff));
  EXPECT_TRUE(IsCommand({L"/power", L"toggle"}, K::Power, KRemoteToggle));
  EXPECT_TRUE(IsCommand({L"/POWER", L"ON"}, K::Power, KRemoteOn));
  EXPECT_TRUE(IsCommand({L"/Blackout", L"Toggle"}, K::Blackout, KRemoteToggle));
  EXPECT_TRUE(IsCommand({L"/blackout", L"oN"}, K::Blackout, KRemoteOn));
  EXPECT_TRUE(IsCommand({L"/blackout", L"OFF"}, K::Blackout, KRemoteOff));
  for (int n = 1; n <= 8; ++n) EXPECT_TRUE(IsCommand({L"/INPUT", std::to_wstring(n)}, K::Input, n)) << n;
  EXPECT_TRUE(IsCommand({L"/hotkey", L"on"}, K::HotKey, KRemoteOn));
  EXPECT_TRUE(IsCommand({L"/HotKey", L"OFF"}, K::HotKey, KRemoteOff));
  EXPECT_TRUE(IsCommand({L"/status"}, K::Status, 0));
  EXPECT_TRUE(IsCommand({L"/STATUS"}, K::Status, 0));
  EXPECT_TRUE(IsCommand({L"/Exit"}, K::Exit, 0));
}

TEST(RemoteCommandLine, BadOrMissingValuesAreMalformed) {
  for (const TArgs& args : std::vector<TArgs>{
           {L"/power"}, {L"/power", L"yes"}, {L"/power", L"1"}, {L"/power", L""}, {L"/power", L"onn"},
           {L"/hotkey", L"toggle"}, {L"/hotkey"},
           {L"/input"}, {L"/input", L"0"}, {L"/input", L"9"}, {L"/input", L"02"}, {L"/input", L"+2"},
           {L"/input", L"2.0"}, {L"/input", L"\uFF12"}, {L"/input", L"-1"}, {L"/input", L"on"},
           {L"/blackout", L"/debug"}, {L"/status", L"on"}, {L"/exit", L"now"}, {L"/exit", L"/status"}, {L"/power", L"on", L"off"}, {L"/input", L"2", L"3"},
       })
    EXPECT_EQ(KindOf(args), TLine::Malformed) << (args.size() > 1 ? std::string(args[1].begin(), args[1].end()) : "");
}

TEST(RemoteCommandLine, OneCommandPerStart) {
  EXPECT_EQ(KindOf({L"/power", L"on", L"/blackout", L"off"}), TLine::Malformed);
  EXPECT_EQ(KindOf({L"/status", L"/status"}), TLine::Malformed);
  EXPECT_EQ(KindOf({L"/input", L"2", L"/status"}), TLine::Malformed);
  // A malformed line carries no command that a caller could run by mistake.
  EXPECT_EQ(Parse({L"/power", L"on", L"/power", L"bad"}).Command, TRemoteCommand{});
}

TEST(RemoteCommandLine, ExistingSwitchesMayStandBesideACommand) {
  EXPECT_TRUE(IsCommand({L"/debug", L"/power", L"on"}, K::Power, KRemoteOn));
  EXPECT_TRUE(IsCommand({L"/input", L"3", L"/NONIO", L"/Debug"}, K::Input, 3));
  // "/HANDLE" takes the argument after it, whatever it looks like.
  EXPECT_TRUE(IsCommand({L"/HANDLE", L"1234", L"/status"}, K::Status, 0));
  EXPECT_TRUE(IsCommand({L"/status", L"/handle", L"on"}, K::Status, 0));
  EXPECT_EQ(KindOf({L"/HANDLE", L"/status"}), TLine::None);
  EXPECT_TRUE(IsCommand({L"/blackout", L"on", L"/HANDLE"}, K::Blackout, KRemoteOn));
  // The resident program a command starts gets this start's switches, as given, and nothing else.
  EXPECT_EQ(ResidentStartArguments({L"/Debug", L"/power", L"on", L"/HANDLE", L"12", L"/NONIO"}),
            (std::vector<std::wstring>{L"/Debug", L"/NONIO"}));
  EXPECT_TRUE(ResidentStartArguments({L"/input", L"2"}).empty());
}

TEST(RemoteCommandLine, WithoutCommandWordEverythingStaysAsBefore) {
  EXPECT_EQ(KindOf({}), TLine::None);
  EXPECT_EQ(KindOf({L"/debug"}), TLine::None);
  EXPECT_EQ(KindOf({L"/nonio", L"C:\\some file.txt", L"on"}), TLine::None);
  EXPECT_EQ(KindOf({L"/HANDLE", L"12"}), TLine::None);
  // Near misses are not commands: the running instance is brought to the front as before.
  EXPECT_EQ(KindOf({L"/powr", L"on"}), TLine::None);
  EXPECT_EQ(KindOf({L"power", L"on"}), TLine::None);
  EXPECT_EQ(KindOf({L"-power", L"on"}), TLine::None);
  EXPECT_EQ(KindOf({L"/power:on"}), TLine::None);
  // Beside a command, the same stray text makes the line malformed.
  EXPECT_EQ(KindOf({L"/power", L"on", L"C:\\some file.txt"}), TLine::Malformed);
  EXPECT_EQ(KindOf({L"stray", L"/status"}), TLine::Malformed);
}

TEST(RemoteHandOver, CommandRoundTripsAndOnlyExactPacketsDecode) {
  const TRemoteCommand all[] = {{K::Power, 0}, {K::Power, 1}, {K::Power, 2}, {K::Blackout, 0}, {K::Blackout, 2},
                                {K::Input, 1}, {K::Input, 8}, {K::HotKey, 0}, {K::HotKey, 1}, {K::Status, 0},
                                {K::Exit, 0}};
  for (const auto& c : all) {
    const auto bytes = EncodeRemoteCommand(c);
    ASSERT_EQ(bytes.size(), 12u);
    const auto back = DecodeRemoteCommand(bytes.data(), bytes.size());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, c);
  }
  // Little-endian fields: format 1, kind, value.
  EXPECT_EQ(EncodeRemoteCommand({K::Input, 7}),
            (TRemoteBytes{1, 0, 0, 0, 3, 0, 0, 0, 7, 0, 0, 0}));

  auto good = EncodeRemoteCommand({K::Input, 7});
  EXPECT_FALSE(DecodeRemoteCommand(nullptr, 12));
  EXPECT_FALSE(DecodeRemoteCommand(good.data(), 11));
  auto longer = good;
  longer.push_back(0);
  EXPECT_FALSE(DecodeRemoteCommand(longer.data(), longer.size()));
  auto bad = good;
  bad[0] = 2; // another format
  EXPECT_FALSE(DecodeRemoteCommand(bad.data(), bad.size()));
  for (uint8_t kind : {0, 7, 255}) {
    bad = good;
    bad[4] = kind;
    EXPECT_FALSE(DecodeRemoteCommand(bad.data(), bad.size())) << int(kind);
  }
  for (const TRemoteCommand& c : {TRemoteCommand{K::Input, 0}, TRemoteCommand{K::Input, 9}, TRemoteCommand{K::Power, 3},
                                  TRemoteCommand{K::Power, -1}, TRemoteCommand{K::HotKey, 2},
                                  TRemoteCommand{K::Status, 1}, TRemoteCommand{K::Exit, 1}}) {
    const auto b = EncodeRemoteCommand(c);
    EXPECT_FALSE(DecodeRemoteCommand(b.data(), b.size())) << int(c.Kind) << " " << c.Value;
  }
}

TEST(RemoteHandOver, StatusRoundTripsFormatsAndRejectsDamage) {
  const TRemoteStatus s{true, false, 3, true, L"COM5"};
  const auto bytes = EncodeRemoteStatus(s);
  ASSERT_EQ(bytes.size(), 16u + 4u);
  const auto back = DecodeRemoteStatus(bytes.data(), bytes.size());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, s);
  EXPECT_EQ(FormatRemoteStatusLine(*back), L"power=on blackout=off input=3 hotkey=on port=COM5");
  EXPECT_EQ(FormatRemoteStatusLine({false, true, 0, false, L""}), L"power=off blackout=on input=0 hotkey=off port=");
  EXPECT_EQ(FormatRemoteStatusLine({false, false, -2, false, L"COM12"}),
            L"power=off blackout=off input=-2 hotkey=off port=COM12");

  // A port the line cannot carry goes as empty text; the rest still arrives.
  for (const std::wstring& port : {std::wstring(L"COM 5"), std::wstring(L"COM5\r\n"), std::wstring(300, L'C')}) {
    const auto b = EncodeRemoteStatus({true, true, 8, false, port});
    const auto r = DecodeRemoteStatus(b.data(), b.size());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, (TRemoteStatus{true, true, 8, false, L""}));
  }
  const auto wide = EncodeRemoteStatus({false, false, 1, false, L"ＣＯＭ５"});
  EXPECT_EQ(DecodeRemoteStatus(wide.data(), wide.size())->Port, L"ＣＯＭ５");

  EXPECT_FALSE(DecodeRemoteStatus(bytes.data(), bytes.size() - 1));
  EXPECT_FALSE(DecodeRemoteStatus(bytes.data(), 15));
  auto damaged = [&](size_t at, uint8_t v) {
    auto b = bytes;
    b[at] = v;
    return DecodeRemoteStatus(b.data(), b.size()).has_value();
  };
  EXPECT_FALSE(damaged(0, 9));    // format
  EXPECT_FALSE(damaged(4, 2));    // a flag that is neither 0 nor 1
  EXPECT_FALSE(damaged(7, 1));    // the zero byte
  EXPECT_FALSE(damaged(12, 5));   // length longer than the data
  EXPECT_FALSE(damaged(12, 3));   // length shorter than the data
  EXPECT_FALSE(damaged(16, ' ')); // a blank inside the port
  EXPECT_FALSE(damaged(17, 0xFF)); // not UTF-8
}

TEST(RemoteAction, ExitCodesAndUsage) {
  EXPECT_EQ(RemoteExitCode(TRemoteAnswer::Done), 0);
  EXPECT_EQ(RemoteExitCode(TRemoteAnswer::NotDone), 1);
  EXPECT_EQ(RemoteExitCode(TRemoteAnswer::NotUnderstood), 1); // an older program that ignores commands
  EXPECT_EQ(RemoteExitCode(static_cast<TRemoteAnswer>(77)), 1);
  EXPECT_EQ(RemoteExitCode(TRemoteAnswer::Busy), 3);
  EXPECT_EQ(RemoteExitCode(TRemoteAnswer::Starting), 3);
  EXPECT_EQ(RemoteExitCodeWithNothingRunning({K::Status, 0}), 1);
  EXPECT_EQ(RemoteExitCodeWithNothingRunning({K::Exit, 0}), 0);
  EXPECT_FALSE(RemoteExitCodeWithNothingRunning({K::Power, KRemoteOn}).has_value());

  const std::wstring usage = RemoteUsageText(L"KAV90R_HotKeyController.exe", L"KTX-AV90R");
  EXPECT_EQ(usage.rfind(L"コマンドラインの指定が正しくありません。\r\n", 0), 0u);
  for (const wchar_t* part : {L"使い方：KAV90R_HotKeyController.exe コマンド\r\n", L"/power on | off | toggle\r\n",
                              L"\u3000KTX-AV90Rの電源を入れる／切る／切り替える\r\n", L"/blackout on | off | toggle\r\n",
                              L"/input 1～8\r\n", L"/hotkey on | off\r\n", L"/status\r\n", L"/exit\r\n",
                              L"（/status と /exit を除く）", L"0\u3000実行した",
                              L"1\u3000実行できなかった", L"2\u3000コマンドラインの指定が正しくない",
                              L"3\u3000設定画面やメッセージを表示中のため、何もしなかった"})
    EXPECT_NE(usage.find(part), std::wstring::npos) << std::string(part, part + 4);
  // Lines end with CR LF only (a message box shows a lone LF as a line break too, a file would not).
  for (size_t i = 0; i < usage.size(); ++i) {
    if (usage[i] == L'\n') {
      EXPECT_EQ(usage[i - 1], L'\r') << i;
    }
  }
}
