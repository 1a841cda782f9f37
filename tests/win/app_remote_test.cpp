// Commands from the command line between two parties: a sender thread plays
// the second start, this thread the running instance's application window.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "app/win/Application.h"
#include "app/win/RemoteControl.h"
#include "app/win/SingleInstance.h"
#include "common/win/Handles.h"
#include "common/win/MessageOnlyWindow.h"
#include "tests/win/support/FileSystem.h"
#include "tests/win/support/MessagePump.h"

using namespace kav;

namespace {

using K = TRemoteCommandKind;

class TFakeTarget : public IRemoteCommandTarget {
public:
  std::vector<TRemoteCommand> Commands;
  std::deque<TRemoteAnswer> Answers; // the last one repeats
  TRemoteStatus Status;
  int StatusAsked = 0;

  TRemoteAnswer DoProcess_RemoteCommand(const TRemoteCommand& Command) override {
    Commands.push_back(Command);
    if (Answers.empty()) return TRemoteAnswer::Done;
    const TRemoteAnswer a = Answers.front();
    if (Answers.size() > 1) Answers.pop_front();
    return a;
  }
  TRemoteAnswer GetRemoteStatus(TRemoteStatus& Out) const override {
    ++const_cast<TFakeTarget*>(this)->StatusAsked;
    Out = Status;
    return TRemoteAnswer::Done;
  }
};

class RemoteHandOverTest : public ::testing::Test {
protected:
  RemoteHandOverTest() : App(GetModuleHandleW(nullptr)), Running(L"RemoteTestProgram") {}

  void SetUp() override {
    ASSERT_TRUE(Running.IsFirstInstance());
    Running.MarkApplicationWindow(App.Handle());
    App.SetCopyDataHandler(
        [this](WPARAM Sender, const COPYDATASTRUCT& Data) { return ServeRemoteCommand(&Target, App.Handle(), Sender, Data); });
  }

  // Runs a second start's hand-over on its own thread while this thread
  // serves the application window; returns its exit code.
  int Send(const TRemoteCommand& Command, TRemoteWaits Waits = {}) {
    TSingleInstanceGuard second(L"RemoteTestProgram");
    EXPECT_FALSE(second.IsFirstInstance());
    std::atomic<bool> done{false};
    int code = -1;
    std::thread sender([&] {
      code = HandOverRemoteCommand(second, Command, Waits);
      done = true;
    });
    kavtest::PumpUntil([&] { return done.load(); }, 60000);
    sender.join();
    return code;
  }

  TApplication App;
  TSingleInstanceGuard Running;
  TFakeTarget Target;
};

LRESULT Serve(IRemoteCommandTarget* Target, HWND App, WPARAM Sender, ULONG_PTR Tag, const void* Data, size_t Size) {
  COPYDATASTRUCT cds{};
  cds.dwData = Tag;
  cds.cbData = static_cast<DWORD>(Size);
  cds.lpData = const_cast<void*>(Data);
  return ServeRemoteCommand(Target, App, Sender, cds);
}

} // namespace

TEST_F(RemoteHandOverTest, CommandsArriveAndAnswersBecomeExitCodes) {
  struct TCase {
    TRemoteCommand Command;
    TRemoteAnswer Answer;
    int Exit;
    DWORD AtLeastMs = 0; // the least time before the exit code
  };
  const TCase cases[] = {
      {{K::Power, KRemoteOn}, TRemoteAnswer::Done, 0},         {{K::Input, 8}, TRemoteAnswer::NotDone, 1},
      {{K::Blackout, KRemoteToggle}, TRemoteAnswer::Busy, 3},  {{K::HotKey, KRemoteOff}, TRemoteAnswer::Done, 0},
      {{K::Power, KRemoteOff}, TRemoteAnswer::NotUnderstood, 1}, {{K::Exit, 0}, TRemoteAnswer::Busy, 3},
      // Done only once the running process has ended: this one plays it and does not end.
      {{K::Exit, 0}, TRemoteAnswer::Done, 1, 350},
  };
  for (const auto& c : cases) {
    Target.Commands.clear();
    Target.Answers = {c.Answer};
    const DWORD start = GetTickCount();
    EXPECT_EQ(Send(c.Command, {10000, 20000, 30000, 200, 400}), c.Exit) << static_cast<int>(c.Answer);
    EXPECT_GE(GetTickCount() - start, c.AtLeastMs);
    ASSERT_EQ(Target.Commands.size(), 1u);
    EXPECT_EQ(Target.Commands[0], c.Command);
  }
  // A plain second start's command line still goes its own way.
  EXPECT_TRUE(TSingleInstanceGuard(L"RemoteTestProgram").ActivateRunningInstance(L"prog.exe /nonio", 1000));
  EXPECT_EQ(App.LastHandedOverCommandLine(), L"prog.exe /nonio");
  EXPECT_EQ(Target.Commands.size(), 1u);
}

TEST_F(RemoteHandOverTest, WhileTheRunningInstanceStartsTheSenderAsksAgainThenGivesUp) {
  Target.Answers = {TRemoteAnswer::Starting, TRemoteAnswer::Starting, TRemoteAnswer::Done};
  EXPECT_EQ(Send({K::Input, 2}, {10000, 20000, 30000, 50}), 0);
  EXPECT_EQ(Target.Commands.size(), 3u);

  Target.Commands.clear();
  Target.Answers = {TRemoteAnswer::Starting};
  const DWORD start = GetTickCount();
  EXPECT_EQ(Send({K::Input, 2}, {10000, 20000, 600, 100}), 3);
  EXPECT_GE(GetTickCount() - start, 550u);
  EXPECT_GE(Target.Commands.size(), 2u);
}

TEST_F(RemoteHandOverTest, StatusLineGoesToTheRedirectedOutput) {
  kavtest::TTempDir dir;
  const std::wstring path = dir / L"status.txt";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, file);
  Target.Status = {true, false, 3, true, L"COM5"};
  const int code = Send({K::Status, 0});
  Target.Status = {false, true, 0, false, L""};
  const int second = Send({K::Status, 0});
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  CloseHandle(file);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(Target.StatusAsked, 2);
  EXPECT_TRUE(Target.Commands.empty()); // a status request is no command
  EXPECT_EQ(kavtest::ReadBytes(path), "power=on blackout=off input=3 hotkey=on port=COM5\r\n"
                                      "power=off blackout=on input=0 hotkey=off port=\r\n");
}

TEST_F(RemoteHandOverTest, OnlyExactCommandsAreActedOnAndTheStatusGoesOnlyToAReplyWindow) {
  const TRemoteBytes good = EncodeRemoteCommand({K::Input, 4});
  // Another tag, a short or long packet, a value out of range: not understood, nothing done.
  EXPECT_EQ(Serve(&Target, App.Handle(), 0, KCopyDataCommandLine, good.data(), good.size()), 0);
  EXPECT_EQ(Serve(&Target, App.Handle(), 0, KCopyDataRemoteStatus, good.data(), good.size()), 0);
  EXPECT_EQ(Serve(&Target, App.Handle(), 0, KCopyDataRemoteCommand, good.data(), good.size() - 1), 0);
  TRemoteBytes longer = good;
  longer.push_back(0);
  EXPECT_EQ(Serve(&Target, App.Handle(), 0, KCopyDataRemoteCommand, longer.data(), longer.size()), 0);
  TRemoteBytes bad = good;
  bad[8] = 9;
  EXPECT_EQ(Serve(&Target, App.Handle(), 0, KCopyDataRemoteCommand, bad.data(), bad.size()), 0);
  EXPECT_EQ(Serve(&Target, App.Handle(), 0, KCopyDataRemoteCommand, nullptr, 12), 0);
  EXPECT_TRUE(Target.Commands.empty());
  EXPECT_EQ(Serve(&Target, App.Handle(), 0, KCopyDataRemoteCommand, good.data(), good.size()),
            static_cast<LRESULT>(TRemoteAnswer::Done));
  EXPECT_EQ(Target.Commands.size(), 1u);
  // Before the status window exists a command is asked to wait; garbage is still not understood.
  EXPECT_EQ(Serve(nullptr, App.Handle(), 0, KCopyDataRemoteCommand, good.data(), good.size()),
            static_cast<LRESULT>(TRemoteAnswer::Starting));
  EXPECT_EQ(Serve(nullptr, App.Handle(), 0, KCopyDataRemoteCommand, bad.data(), bad.size()), 0);

  // The status is sent to a sender's reply window only: not to any window a message names.
  const TRemoteBytes status = EncodeRemoteCommand({K::Status, 0});
  for (HWND notReply : {App.Handle(), static_cast<HWND>(nullptr), GetDesktopWindow()})
    EXPECT_EQ(Serve(&Target, App.Handle(), reinterpret_cast<WPARAM>(notReply), KCopyDataRemoteCommand, status.data(),
                    status.size()),
              static_cast<LRESULT>(TRemoteAnswer::NotDone));

  // A window that merely shares the reply window's class, on a thread that
  // takes no messages, holds this (the user-interface) thread up briefly only.
  std::atomic<HWND> hung{nullptr};
  const kav::TKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread other([&] {
    const TMessageOnlyWindow window([](UINT, WPARAM, LPARAM, LRESULT&) { return false; });
    hung = window.Handle();
    WaitForSingleObject(release.Get(), 20000);
  });
  while (!hung) Sleep(10);
  const DWORD start = GetTickCount();
  EXPECT_EQ(Serve(&Target, App.Handle(), reinterpret_cast<WPARAM>(hung.load()), KCopyDataRemoteCommand, status.data(),
                  status.size()),
            static_cast<LRESULT>(TRemoteAnswer::NotDone));
  EXPECT_LT(GetTickCount() - start, 2000u);
  SetEvent(release.Get());
  other.join();
}

TEST(RemoteHandOver, NoRunningWindowMeansNotDone) {
  TSingleInstanceGuard first(L"RemoteTestNoWindow");
  TSingleInstanceGuard second(L"RemoteTestNoWindow");
  ASSERT_FALSE(second.IsFirstInstance());
  const DWORD start = GetTickCount();
  EXPECT_EQ(HandOverRemoteCommand(second, {K::Power, KRemoteOn}, {300, 1000, 1000, 50}), 1);
  EXPECT_GE(GetTickCount() - start, 250u);
}
