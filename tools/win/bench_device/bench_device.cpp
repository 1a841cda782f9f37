// bench_device COMn CONTROL_PORT [RUNS]
//
// Measures the device link against the switcher simulator (already running,
// its link on COMn, its control port on 127.0.0.1:CONTROL_PORT):
//   send    : time inside the command call (frame handed to the driver)
//   command : command call -> the simulator has read the frame's last byte
//   reply   : the simulator has written a reply -> decoded report on the UI thread
// Times on both sides come from the host's wall clock (Wine passes it through).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/win/dmComPort.h"

namespace {

double UnixNow() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  return static_cast<double>(u.QuadPart - 116444736000000000ULL) / 1e7;
}

class TControl {
public:
  explicit TControl(int Port) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    FSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(Port));
    if (connect(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      std::fprintf(stderr, "bench_device: cannot reach the simulator's control port %d\n", Port);
      std::exit(2);
    }
    BOOL one = TRUE;
    setsockopt(FSocket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  }
  ~TControl() { closesocket(FSocket); }

  void Send(const std::string& Line) {
    const std::string out = Line + "\n";
    send(FSocket, out.data(), static_cast<int>(out.size()), 0);
  }
  std::string Receive() {
    for (;;) {
      const std::size_t nl = FPending.find('\n');
      if (nl != std::string::npos) {
        std::string line = FPending.substr(0, nl);
        FPending.erase(0, nl + 1);
        return line;
      }
      char buf[1024];
      const int n = recv(FSocket, buf, sizeof buf, 0);
      if (n <= 0) {
        std::fprintf(stderr, "bench_device: simulator control closed\n");
        std::exit(2);
      }
      FPending.append(buf, static_cast<std::size_t>(n));
    }
  }
  std::string Command(const std::string& Line) {
    Send(Line);
    return Receive();
  }

private:
  SOCKET FSocket;
  std::string FPending;
};

class TTimingSink : public kav::IAv90RStatusSink {
public:
  double LastReport = 0;
  int Reports = 0;
  void DoProcess_RcvPowerStat(bool) override { Note(); }
  void DoProcess_RcvBlackoutStat(bool) override { Note(); }
  void DoProcess_RcvSelectChannel(int32_t) override { Note(); }

private:
  void Note() {
    LastReport = UnixNow();
    ++Reports;
  }
};

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

template <class F>
bool PumpUntil(F Done, double Seconds) {
  const double end = UnixNow() + Seconds;
  while (!Done()) {
    if (UnixNow() > end) return false;
    Pump();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  return true;
}

void Print(const char* Name, std::vector<double> Ms) {
  if (Ms.empty()) {
    std::printf("%-8s no samples\n", Name);
    return;
  }
  std::sort(Ms.begin(), Ms.end());
  const double median = Ms.size() % 2 ? Ms[Ms.size() / 2] : (Ms[Ms.size() / 2 - 1] + Ms[Ms.size() / 2]) / 2;
  const std::size_t i95 = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(Ms.size()))) - 1;
  std::printf("%-8s runs %4zu  median %8.3f ms  p95 %8.3f ms  min %8.3f ms  max %8.3f ms\n", Name, Ms.size(), median,
              Ms[i95], Ms.front(), Ms.back());
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_device COMn CONTROL_PORT [RUNS]\n");
    return 2;
  }
  const std::wstring port = argv[1];
  const int control = _wtoi(argv[2]);
  const int runs = argc > 3 ? std::max(1, _wtoi(argv[3])) : 200;

  TControl ctl(control);
  if (ctl.Command("set power 1").rfind("ok", 0) != 0) return 2;
  TTimingSink sink;
  kav::TmodComPort mod(&sink);
  mod.SetComPort(port);
  if (!mod.TestComPort(port)) {
    std::fprintf(stderr, "bench_device: no status reply on %ls\n", port.c_str());
    return 1;
  }

  std::vector<double> sendMs, commandMs, replyMs;
  // Commands: the simulator stays quiet so that only the outgoing path is measured.
  ctl.Command("silent 1");
  for (int i = 0; i < runs; ++i) {
    ctl.Command("clear");
    const double t0 = UnixNow();
    if (!mod.SelectChannel(1 + i % 8)) {
      std::fprintf(stderr, "bench_device: send failed\n");
      return 1;
    }
    const double t1 = UnixNow();
    std::string last;
    for (int tries = 0; tries < 1000; ++tries) {
      last = ctl.Command("last");
      if (last.rfind("ok", 0) == 0) break;
      Sleep(1);
    }
    if (last.rfind("ok", 0) != 0) {
      std::fprintf(stderr, "bench_device: the simulator did not see the frame\n");
      return 1;
    }
    const double read = std::atof(last.c_str() + 3);
    sendMs.push_back((t1 - t0) * 1000);
    commandMs.push_back((read - t0) * 1000);
    Pump();
  }
  ctl.Command("silent 0");

  // Replies: the simulator writes an unsolicited report; the UI thread keeps
  // pumping while the control answer (with the write time) comes back.
  for (int i = 0; i < runs; ++i) {
    const int before = sink.Reports;
    ctl.Send(i % 2 ? "report w1" : "report w0");
    if (!PumpUntil([&] { return sink.Reports > before; }, 5)) {
      std::fprintf(stderr, "bench_device: report %d not decoded\n", i);
      return 1;
    }
    const std::string answer = ctl.Receive();
    const double written = std::atof(answer.c_str() + 3);
    replyMs.push_back((sink.LastReport - written) * 1000);
    Sleep(2 + i % 7); // spread the writes over the check timer's phase
  }

  std::printf("device link benchmark on %ls, %d runs each\n", port.c_str(), runs);
  Print("send", sendMs);
  Print("command", commandMs);
  Print("reply", replyMs);
  return 0;
}
