// The switcher simulator as other tests and the demo use it: started as a
// process, spoken to through its terminal link and its control port.
#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string SimulatorPath() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string dir(self, static_cast<std::size_t>(n));
  dir.erase(dir.rfind('/'));
  return dir + "/tools/simulator/av90r_sim";
}

class TSimProcess {
public:
  TSimProcess(const std::string& dir, std::vector<std::string> extra) : FLink(dir + "/com9"), FLog(dir + "/sim.jsonl") {
    int out[2];
    if (pipe(out) != 0) return;
    std::vector<std::string> args{SimulatorPath(), "--link", FLink, "--log", FLog};
    args.insert(args.end(), extra.begin(), extra.end());
    FPid = fork();
    if (FPid == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    Ready = line;
    const std::size_t sp = line.rfind(' ');
    if (line.rfind("READY ", 0) != 0 || sp == std::string::npos) return;
    FControl = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(std::atoi(line.c_str() + sp + 1)));
    if (connect(FControl, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) FControl = -1;
  }
  ~TSimProcess() {
    if (FControl >= 0) close(FControl);
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      int status;
      waitpid(FPid, &status, 0);
    }
  }
  std::string Command(const std::string& line) {
    const std::string out = line + "\n";
    if (write(FControl, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return "";
    std::string answer;
    char c;
    while (read(FControl, &c, 1) == 1 && c != '\n') answer += c;
    return answer;
  }
  // Stops it as a test runner would; returns its exit status.
  int Terminate() {
    kill(FPid, SIGTERM);
    int status = 0;
    waitpid(FPid, &status, 0);
    FPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Ready;
  std::string FLink, FLog;

private:
  pid_t FPid = -1;
  int FControl = -1;
};

// The host's side of the line: a raw terminal on the simulator's link.
class THostLine {
public:
  explicit THostLine(const std::string& link) {
    FFd = open(link.c_str(), O_RDWR | O_NOCTTY);
    if (FFd < 0) return;
    termios tio{};
    tcgetattr(FFd, &tio);
    cfmakeraw(&tio);
    tcsetattr(FFd, TCSANOW, &tio);
  }
  ~THostLine() {
    if (FFd >= 0) close(FFd);
  }
  bool Ok() const { return FFd >= 0; }
  void Send(const std::string& bytes) { ASSERT_EQ(write(FFd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  // Collects what arrives within ms milliseconds.
  // Reads until as many bytes as the expected reply have arrived, or the
  // deadline passes: the window is generous so a loaded machine does not
  // split one reply across two reads, yet a good reply returns at once.
  std::string ReceiveLike(const std::string& expected, int ms) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < expected.size()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{FFd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buf[256];
      const ssize_t n = read(FFd, buf, std::min(sizeof buf, expected.size() - got.size()));
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }

  std::string Receive(int ms) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return got;
      pollfd p{FFd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return got;
      char buf[256];
      const ssize_t n = read(FFd, buf, sizeof buf);
      if (n <= 0) return got;
      got.append(buf, static_cast<std::size_t>(n));
    }
  }

private:
  int FFd = -1;
};

class DeviceSimulator : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kav-simtest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FDir = tmpl;
    struct stat st {};
    ASSERT_EQ(stat(SimulatorPath().c_str(), &st), 0) << "simulator not built: " << SimulatorPath();
  }
  void TearDown() override { std::system(("rm -rf " + FDir).c_str()); }
  std::string FDir;
};

} // namespace

TEST_F(DeviceSimulator, AnswersLikeTheSwitcherAndLogsEveryFrame) {
  TSimProcess sim(FDir, {"--power", "0", "--blackout", "1", "--input", "4"});
  ASSERT_EQ(sim.Ready.rfind("READY /dev/pts/", 0), 0u) << sim.Ready;
  THostLine host(sim.FLink);
  ASSERT_TRUE(host.Ok());

  // In standby only power commands are answered.
  host.Send("\x1b" "C\r\x1b" "B0\r\x1b" "S2\r");
  EXPECT_EQ(host.Receive(150), "");

  host.Send("\x1b" "W1\r");
  EXPECT_EQ(host.ReceiveLike("\x1b" "w1\r", 3000), "\x1b" "w1\r");
  host.Send("\x1b" "C\r");
  EXPECT_EQ(host.ReceiveLike("\x1b" "c14\r", 3000), "\x1b" "c14\r");
  host.Send("noise\r\x1b" "S7\r\x1b" "B0\r\x1b" "C\r");
  EXPECT_EQ(host.ReceiveLike("\x1b" "s7\r\x1b" "b0\r\x1b" "c07\r", 3000), "\x1b" "s7\r\x1b" "b0\r\x1b" "c07\r");
  host.Send("\x1b" "S9\r\x1b" "X\r\x1b" "W0\r"); // input 9 and unknown letters get no answer
  EXPECT_EQ(host.ReceiveLike("\x1b" "w0\r", 3000), "\x1b" "w0\r");
  EXPECT_EQ(sim.Command("state"), "ok power=0 blackout=0 input=7");

  EXPECT_EQ(sim.Command("frames"), "ok C,B0,S2,W1,C,S7,B0,C,S9,X,W0");
  EXPECT_EQ(sim.Command("clear"), "ok");
  EXPECT_EQ(sim.Command("frames"), "ok ");
  EXPECT_EQ(sim.Command("received"), "ok 0");
  host.Send(std::string("zz\x1b" "a\x01,b\r", 8));
  host.Receive(100);
  EXPECT_EQ(sim.Command("received"), "ok 8"); // bytes outside a frame count too
  const std::string last = sim.Command("last");
  EXPECT_EQ(last.substr(last.rfind(' ') + 1), "a\\u0001\\u002Cb");

  std::ifstream log(sim.FLog);
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0].rfind("{\"t\": ", 0), 0u);
  EXPECT_NE(lines[0].find("\"frame\": \"C\"}"), std::string::npos);
  EXPECT_NE(lines[11].find("\"frame\": \"a\\u0001\\u002Cb\"}"), std::string::npos);
  const double t = std::atof(lines[0].c_str() + 6);
  EXPECT_NEAR(t, static_cast<double>(time(nullptr)), 60.0);
}

TEST_F(DeviceSimulator, MisbehavesOnRequest) {
  TSimProcess sim(FDir, {"--power", "1", "--input", "3"});
  THostLine host(sim.FLink);
  ASSERT_TRUE(host.Ok());

  EXPECT_EQ(sim.Command("silent 1"), "ok");
  host.Send("\x1b" "C\r");
  EXPECT_EQ(host.Receive(150), "");

  EXPECT_EQ(sim.Command("silent 0"), "ok");

  EXPECT_EQ(sim.Command("delay 300"), "ok");
  host.Send("\x1b" "C\r");
  EXPECT_EQ(host.Receive(150), "");

  EXPECT_EQ(host.ReceiveLike("\x1b" "c03\r", 3000), "\x1b" "c03\r");
  EXPECT_EQ(sim.Command("delay 0"), "ok");

  EXPECT_EQ(sim.Command("noise 1"), "ok");
  host.Send("\x1b" "S5\r");
  const std::string noisy = host.Receive(150);
  ASSERT_GT(noisy.size(), 4u);
  EXPECT_EQ(noisy.substr(noisy.size() - 4), "\x1b" "s5\r");
  EXPECT_EQ(noisy.find('\x1b'), noisy.size() - 4); // noise never starts a frame
  EXPECT_EQ(sim.Command("noise 0"), "ok");

  EXPECT_EQ(sim.Command("merge 1"), "ok");
  host.Send("\x1b" "B1\r\x1b" "S2\r");
  EXPECT_EQ(host.ReceiveLike("\x1b" "b1\r\x1b" "s2\r", 3000), "\x1b" "b1\r\x1b" "s2\r");
  EXPECT_EQ(sim.Command("merge 0"), "ok");

  EXPECT_EQ(sim.Command("report b0").rfind("ok 1", 0), 0u);
  EXPECT_EQ(host.ReceiveLike("\x1b" "b0\r", 3000), "\x1b" "b0\r");
  EXPECT_EQ(sim.Command("raw 00 80 ff 0d").rfind("ok 1", 0), 0u);
  EXPECT_EQ(host.ReceiveLike(std::string("\x00\x80\xff\r", 4), 3000), std::string("\x00\x80\xff\r", 4));
  EXPECT_EQ(sim.Command("raw 0"), "err raw HEX");
  EXPECT_EQ(sim.Command("silent 2"), "err silent 0|1");
  EXPECT_EQ(sim.Command("bogus"), "err unknown command");
  EXPECT_EQ(sim.Command("set input 6"), "ok");
  EXPECT_EQ(sim.Command("state"), "ok power=1 blackout=1 input=6"); // a report changes no state

  // Held low, CTS stops our side's transmission; released, it flows again.
  // The write blocks like a transmitter waiting for CTS, so it runs on its own thread.
  EXPECT_EQ(sim.Command("cts 0"), "ok");
  std::thread writer([&] { host.Send("\x1b" "C\r"); });
  EXPECT_EQ(host.Receive(150), "");

  EXPECT_EQ(sim.Command("cts 1"), "ok");
  writer.join();
  EXPECT_EQ(host.ReceiveLike("\x1b" "c16\r", 3000), "\x1b" "c16\r");
}

TEST_F(DeviceSimulator, VanishesReturnsAndCleansUp) {
  TSimProcess sim(FDir, {"--power", "1"});
  {
    THostLine host(sim.FLink);
    ASSERT_TRUE(host.Ok());
    EXPECT_EQ(sim.Command("vanish"), "ok");
    struct stat st {};
    EXPECT_NE(lstat(sim.FLink.c_str(), &st), 0); // the link is gone
    EXPECT_EQ(sim.Command("return").rfind("ok /dev/pts/", 0), 0u);
  }
  THostLine again(sim.FLink);
  ASSERT_TRUE(again.Ok());
  again.Send("\x1b" "W0\r");
  EXPECT_EQ(again.Receive(150), "\x1b" "w0\r");

  EXPECT_EQ(sim.Command("hold 1"), "ok");
  THostLine refused(sim.FLink);
  EXPECT_FALSE(refused.Ok());
  EXPECT_EQ(sim.Command("hold 0"), "ok");

  EXPECT_EQ(sim.Terminate(), 0);
  struct stat st {};
  EXPECT_NE(lstat(sim.FLink.c_str(), &st), 0);
}
