// av90r_sim: plays a KTX-AV90R switcher on one end of a pseudo-terminal pair.
//
//   av90r_sim --link PATH [--log FILE] [--control PORT] [--exit-with-control]
//             [--power 0|1] [--blackout 0|1] [--input N]
//             [--silent] [--delay MS] [--split] [--merge] [--noise] [--cts-low]
//
// PATH becomes a symbolic link to the terminal end (e.g. a Wine prefix's
// dosdevices/com5). Prints "READY <terminal> <control-port>" once ready.
// The control port (TCP, 127.0.0.1) takes one command per line and answers
// each with one line "ok ..." or "err ...":
//   ping | silent 0|1 | delay MS | split 0|1 | merge 0|1 | noise 0|1
//   cts 0|1        CTS line level: 0 holds the host's transmission, 1 releases it
//   hold 0|1       1: another program holds the port (new opens of it fail)
//   report TEXT    send ESC TEXT CR unsolicited (misbehaviours apply)  -> ok <time>|ok queued
//   raw HEX        send these bytes as they are                         -> ok <time>
//   vanish | return (new terminal, link again -> ok <terminal>)
//   state -> ok power=P blackout=B input=N | set power|blackout|input V
//   frames -> ok F1,F2,... | last -> ok <time> <frame> | clear | quit
//   received -> ok N   bytes read from the host since start or "clear", frame or not
// Times are Unix seconds with microseconds; frames are shown with non-printable
// bytes (and commas) as \u00XX. The log file gets one JSON line per frame.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "SimDevice.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

double UnixNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string TimeText(double t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", t);
  return buf;
}

struct Options {
  std::string Link, Log;
  int ControlPort = 0;
  bool ExitWithControl = false;
  bool Power = false, Blackout = false;
  int Input = 1;
  bool Silent = false, Split = false, Merge = false, Noise = false, CtsLow = false;
  int DelayMs = 0;
};

[[noreturn]] void Usage(const char* msg) {
  std::fprintf(stderr, "av90r_sim: %s\n"
               "usage: av90r_sim --link PATH [--log FILE] [--control PORT] [--exit-with-control]\n"
               "                 [--power 0|1] [--blackout 0|1] [--input N]\n"
               "                 [--silent] [--delay MS] [--split] [--merge] [--noise] [--cts-low]\n", msg);
  std::exit(2);
}

int ToInt(const char* s, const char* what) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  if (errno || !end || *end || v < 0 || v > 1000000) Usage(what);
  return static_cast<int>(v);
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](const char* what) -> const char* {
      if (i + 1 >= argc) Usage(what);
      return argv[++i];
    };
    if (a == "--link") o.Link = next("--link needs a path");
    else if (a == "--log") o.Log = next("--log needs a file");
    else if (a == "--control") o.ControlPort = ToInt(next("--control needs a port"), "bad --control");
    else if (a == "--exit-with-control") o.ExitWithControl = true;
    else if (a == "--power") o.Power = ToInt(next("--power needs 0|1"), "bad --power") != 0;
    else if (a == "--blackout") o.Blackout = ToInt(next("--blackout needs 0|1"), "bad --blackout") != 0;
    else if (a == "--input") o.Input = ToInt(next("--input needs N"), "bad --input");
    else if (a == "--silent") o.Silent = true;
    else if (a == "--delay") o.DelayMs = ToInt(next("--delay needs MS"), "bad --delay");
    else if (a == "--split") o.Split = true;
    else if (a == "--merge") o.Merge = true;
    else if (a == "--noise") o.Noise = true;
    else if (a == "--cts-low") o.CtsLow = true;
    else Usage(("unknown argument " + a).c_str());
  }
  if (o.Link.empty()) Usage("--link is required");
  if (o.ControlPort > 65535) Usage("bad --control");
  return o;
}

class Simulator {
public:
  explicit Simulator(const Options& o) : FOpt(o) {
    FDev.Power = o.Power;
    FDev.Blackout = o.Blackout;
    FDev.Input = o.Input;
    FSilent = o.Silent;
    FSplit = o.Split;
    FMerge = o.Merge;
    FNoise = o.Noise;
    FDelayMs = o.DelayMs;
    FCtsLow = o.CtsLow;
  }

  ~Simulator() {
    ClosePty();
    for (auto& c : FClients) close(c.Fd);
    if (FListen >= 0) close(FListen);
    if (FLog) std::fclose(FLog);
  }

  bool Start() {
    if (!FOpt.Log.empty()) {
      FLog = std::fopen(FOpt.Log.c_str(), "w");
      if (!FLog) {
        std::perror("av90r_sim: --log");
        return false;
      }
    }
    if (!OpenPty()) return false;
    if (!OpenListener()) return false;
    std::printf("READY %s %d\n", FSlavePath.c_str(), FPortNo);
    std::fflush(stdout);
    return true;
  }

  int Run() {
    while (!gStop && !FQuit) {
      std::vector<pollfd> fds;
      if (FMaster >= 0) fds.push_back({FMaster, POLLIN, 0});
      fds.push_back({FListen, POLLIN, 0});
      for (auto& c : FClients) fds.push_back({c.Fd, POLLIN, 0});
      const int rc = poll(fds.data(), fds.size(), NextTimeoutMs());
      if (rc < 0 && errno != EINTR) {
        std::perror("av90r_sim: poll");
        return 1;
      }
      std::size_t k = 0;
      if (FMaster >= 0) {
        if (rc > 0 && (fds[k].revents & (POLLIN | POLLHUP | POLLERR))) ReadHost();
        ++k;
      }
      if (rc > 0 && (fds[k].revents & POLLIN)) Accept();
      ++k;
      // Clients may be removed while serving them: walk by file descriptor.
      std::vector<int> ready;
      for (; k < fds.size(); ++k)
        if (rc > 0 && fds[k].revents) ready.push_back(fds[k].fd);
      for (int fd : ready) ServeClient(fd);
      FlushDue();
    }
    return 0;
  }

private:
  struct Out {
    Clock::time_point Due;
    std::string Bytes;
  };
  struct Client {
    int Fd;
    std::string In;
  };

  bool OpenPty() {
    FMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0) {
      std::perror("av90r_sim: pseudo-terminal");
      return false;
    }
    char name[256];
    if (ptsname_r(FMaster, name, sizeof name) != 0) {
      std::perror("av90r_sim: ptsname");
      return false;
    }
    FSlavePath = name;
    // Hold the terminal end open ourselves: the master then never sees a
    // hang-up between the host's closing and reopening the port, and we can
    // stop its output to play a device that holds CTS low.
    FSlave = open(name, O_RDWR | O_NOCTTY);
    if (FSlave < 0) {
      std::perror("av90r_sim: open terminal end");
      return false;
    }
    termios tio{};
    tcgetattr(FSlave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tcsetattr(FSlave, TCSANOW, &tio);
    fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    unlink(FOpt.Link.c_str());
    if (symlink(name, FOpt.Link.c_str()) != 0) {
      std::perror("av90r_sim: --link");
      return false;
    }
    if (FCtsLow) ApplyCts();
    return true;
  }

  void ClosePty() {
    if (FMaster >= 0) {
      close(FMaster);
      FMaster = -1;
    }
    if (FSlave >= 0) {
      close(FSlave);
      FSlave = -1;
      unlink(FOpt.Link.c_str());
    }
    FOut.clear();
    FMergeBuf.clear();
  }

  // A pty has no modem lines; stopping the terminal end's output holds the
  // host's writes exactly as a low CTS line would.
  bool ApplyCts() {
    if (FSlave < 0) return false;
    return tcflow(FSlave, FCtsLow ? TCOOFF : TCOON) == 0;
  }

  bool OpenListener() {
    FListen = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(FOpt.ControlPort));
    if (bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(FListen, 4) != 0) {
      std::perror("av90r_sim: control port");
      return false;
    }
    socklen_t len = sizeof addr;
    getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
    FPortNo = ntohs(addr.sin_port);
    return true;
  }

  int NextTimeoutMs() const {
    Clock::time_point next = Clock::time_point::max();
    if (!FOut.empty()) next = FOut.front().Due;
    if (!FMergeBuf.empty() && FMergeDue < next) next = FMergeDue;
    if (next == Clock::time_point::max()) return 500;
    const auto ms = std::chrono::duration_cast<Ms>(next - Clock::now()).count();
    return ms <= 0 ? 0 : static_cast<int>(ms < 500 ? ms + 1 : 500);
  }

  void ReadHost() {
    char buf[4096];
    const ssize_t n = read(FMaster, buf, sizeof buf);
    if (n <= 0) {
      if (n < 0 && errno != EAGAIN && errno != EINTR) usleep(10000); // no busy loop on a hung-up end
      return;
    }
    const double t = UnixNow();
    FReceived += static_cast<std::size_t>(n);
    for (const std::string& frame : FDev.Feed(buf, static_cast<std::size_t>(n))) {
      FFrames.push_back(frame);
      FLastTime = t;
      if (FLog) {
        std::fprintf(FLog, "{\"t\": %s, \"frame\": \"%s\"}\n", TimeText(t).c_str(), sim::JsonEscape(frame).c_str());
        std::fflush(FLog);
      }
      if (FSilent) continue;
      const std::string reply = FDev.Answer(frame);
      if (!reply.empty()) Emit(reply);
    }
  }

  // Sends one reply frame with whatever misbehaviour is switched on.
  void Emit(const std::string& body) {
    std::string bytes;
    if (FNoise) {
      // Line noise ahead of the frame; never a frame start.
      static const char kNoise[] = {'\0', '\r', '\x7f', '\xff', '\x80', 'z', '\n', '\x13'};
      const int n = 2 + static_cast<int>(FRng() % 5);
      for (int i = 0; i < n; ++i) bytes += kNoise[FRng() % sizeof kNoise];
    }
    bytes += '\x1B';
    bytes += body;
    bytes += '\r';
    const Clock::time_point due = Clock::now() + Ms(FDelayMs);
    if (FMerge) {
      // Replies close together leave in one write.
      if (FMergeBuf.empty()) FMergeDue = due + Ms(30);
      FMergeBuf += bytes;
      return;
    }
    Queue(due, bytes);
  }

  void Queue(Clock::time_point due, const std::string& bytes) {
    if (!FOut.empty() && due < FOut.back().Due) due = FOut.back().Due; // keep the order
    if (FSplit && bytes.size() > 1) {
      const std::size_t half = bytes.size() / 2;
      FOut.push_back({due, bytes.substr(0, half)});
      FOut.push_back({due + Ms(20), bytes.substr(half)});
    } else {
      FOut.push_back({due, bytes});
    }
  }

  // Writes what is due; returns the time of the last write (0 if none).
  double FlushDue() {
    double written = 0;
    const Clock::time_point now = Clock::now();
    if (!FMergeBuf.empty() && FMergeDue <= now) {
      Queue(now, FMergeBuf);
      FMergeBuf.clear();
    }
    while (!FOut.empty() && FOut.front().Due <= Clock::now()) {
      written = WriteHost(FOut.front().Bytes);
      FOut.pop_front();
    }
    return written;
  }

  double WriteHost(const std::string& bytes) {
    if (FMaster < 0) return 0;
    const ssize_t n = write(FMaster, bytes.data(), bytes.size());
    const double t = UnixNow();
    if (n != static_cast<ssize_t>(bytes.size()))
      std::fprintf(stderr, "av90r_sim: host does not take the reply (%zd of %zu bytes)\n", n, bytes.size());
    return t;
  }

  void Accept() {
    const int fd = accept(FListen, nullptr, nullptr);
    if (fd < 0) return;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FClients.push_back({fd, {}});
    if (FFirstClient < 0) FFirstClient = fd;
  }

  void ServeClient(int fd) {
    auto it = FClients.begin();
    while (it != FClients.end() && it->Fd != fd) ++it;
    if (it == FClients.end()) return;
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      close(fd);
      FClients.erase(it);
      if (FOpt.ExitWithControl && fd == FFirstClient) FQuit = true;
      return;
    }
    it->In.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while ((nl = it->In.find('\n')) != std::string::npos) {
      std::string line = it->In.substr(0, nl);
      it->In.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::string answer = Command(line) + "\n";
      send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    if (it->In.size() > 65536) it->In.clear(); // nobody sends lines that long
  }

  static bool Flag(const std::string& arg, bool& out) {
    if (arg == "0" || arg == "1") {
      out = arg == "1";
      return true;
    }
    return false;
  }

  static bool HexBytes(const std::string& hex, std::string& out) {
    std::string digits;
    for (char c : hex)
      if (c != ' ' && c != ':') digits += c;
    if (digits.empty() || digits.size() % 2) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      char* end = nullptr;
      const std::string pair = digits.substr(i, 2);
      const long v = std::strtol(pair.c_str(), &end, 16);
      if (*end) return false;
      out += static_cast<char>(v);
    }
    return true;
  }

  std::string Command(const std::string& line) {
    const std::size_t sp = line.find(' ');
    const std::string cmd = line.substr(0, sp);
    const std::string arg = sp == std::string::npos ? "" : line.substr(sp + 1);
    bool b = false;
    if (cmd == "ping") return "ok pong";
    if (cmd == "silent") return Flag(arg, FSilent) ? "ok" : "err silent 0|1";
    if (cmd == "split") return Flag(arg, FSplit) ? "ok" : "err split 0|1";
    if (cmd == "merge") return Flag(arg, FMerge) ? "ok" : "err merge 0|1";
    if (cmd == "noise") return Flag(arg, FNoise) ? "ok" : "err noise 0|1";
    if (cmd == "delay") {
      char* end = nullptr;
      const long v = std::strtol(arg.c_str(), &end, 10);
      if (arg.empty() || *end || v < 0 || v > 600000) return "err delay MS";
      FDelayMs = static_cast<int>(v);
      return "ok";
    }
    if (cmd == "cts") {
      if (!Flag(arg, b)) return "err cts 0|1";
      FCtsLow = !b;
      return ApplyCts() ? "ok" : "ok not applied (no terminal)";
    }
    if (cmd == "hold") {
      // Re-locking the terminal end makes every new open of it fail, as a
      // port that another program has opened exclusively does.
      if (!Flag(arg, b)) return "err hold 0|1";
      if (FMaster < 0) return "err vanished";
      int lock = b ? 1 : 0;
      return ioctl(FMaster, TIOCSPTLCK, &lock) == 0 ? "ok" : "err cannot lock the terminal";
    }
    if (cmd == "report") {
      if (arg.empty()) return "err report TEXT";
      Emit(arg);
      const double t = FlushDue();
      return t > 0 ? "ok " + TimeText(t) : "ok queued";
    }
    if (cmd == "raw") {
      std::string bytes;
      if (!HexBytes(arg, bytes)) return "err raw HEX";
      if (FMaster < 0) return "err vanished";
      return "ok " + TimeText(WriteHost(bytes));
    }
    if (cmd == "vanish") {
      if (FMaster < 0) return "err vanished already";
      ClosePty();
      return "ok";
    }
    if (cmd == "return") {
      if (FMaster >= 0) return "err not vanished";
      if (!OpenPty()) {
        ClosePty();
        return "err cannot open a terminal";
      }
      return "ok " + FSlavePath;
    }
    if (cmd == "state")
      return "ok power=" + std::to_string(FDev.Power) + " blackout=" + std::to_string(FDev.Blackout) +
             " input=" + std::to_string(FDev.Input);
    if (cmd == "set") {
      const std::size_t sp2 = arg.find(' ');
      const std::string what = arg.substr(0, sp2);
      const std::string value = sp2 == std::string::npos ? "" : arg.substr(sp2 + 1);
      if (what == "power") return Flag(value, FDev.Power) ? "ok" : "err set power 0|1";
      if (what == "blackout") return Flag(value, FDev.Blackout) ? "ok" : "err set blackout 0|1";
      if (what == "input") {
        if (value.size() != 1 || value[0] < '0' || value[0] > '9') return "err set input 0..9";
        FDev.Input = value[0] - '0';
        return "ok";
      }
      return "err set power|blackout|input V";
    }
    if (cmd == "frames") {
      std::string out = "ok ";
      for (std::size_t i = 0; i < FFrames.size(); ++i) out += (i ? "," : "") + sim::JsonEscape(FFrames[i]);
      return out;
    }
    if (cmd == "last") {
      if (FFrames.empty()) return "err none";
      return "ok " + TimeText(FLastTime) + " " + sim::JsonEscape(FFrames.back());
    }
    if (cmd == "received") return "ok " + std::to_string(FReceived);
    if (cmd == "clear") {
      FFrames.clear();
      FReceived = 0;
      return "ok";
    }
    if (cmd == "quit") {
      FQuit = true;
      return "ok";
    }
    return "err unknown command";
  }

  Options FOpt;
  sim::SimDevice FDev;
  bool FSilent, FSplit, FMerge, FNoise, FCtsLow;
  int FDelayMs;
  int FMaster = -1, FSlave = -1, FListen = -1, FPortNo = 0, FFirstClient = -1;
  std::string FSlavePath;
  std::vector<Client> FClients;
  std::deque<Out> FOut;
  std::string FMergeBuf;
  Clock::time_point FMergeDue;
  std::vector<std::string> FFrames;
  std::size_t FReceived = 0;
  double FLastTime = 0;
  bool FQuit = false;
  FILE* FLog = nullptr;
  std::minstd_rand FRng{12345};
};

} // namespace

int main(int argc, char** argv) {
  const Options opt = ParseArgs(argc, argv);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  Simulator s(opt);
  if (!s.Start()) return 1;
  return s.Run();
}
