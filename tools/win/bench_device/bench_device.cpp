// bench_device COMn CONTROL_PORT [RUNS]
//
// Measures the device link against the switcher simulator (already running,
// its link on COMn, its control port on 127.0.0.1:CONTROL_PORT):
//   send    : time inside the command call (frame handed to the driver)
//   command : command call -> the simulator has read the frame's last byte
//   reply   : the simulator has written a reply -> decoded report on the UI thread
// Times on both sides come from the host's wall clock (Wine passes it through).
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "device/win/dmComPort.h"
#include "tests/win/support/MessagePump.h"
#include "tests/win/support/SimulatorControl.h"

namespace {

using kavtest::IsOk;
using kavtest::PumpPending;
using kavtest::PumpUntil;
using kavtest::TSimulatorControl;

double UnixNow() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  return static_cast<double>(u.QuadPart - 116444736000000000ULL) / 1e7;
}

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

// The measurement itself; control-port failures arrive as exceptions.
int Run(const std::wstring& port, int control, int runs) {
  TSimulatorControl ctl;
  if (!ctl.Connect(control)) {
    std::fprintf(stderr, "bench_device: cannot reach the simulator's control port %d\n", control);
    return 2;
  }
  if (!IsOk(ctl.Command("set power 1"))) return 2;
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
      if (IsOk(last)) break;
      Sleep(1);
    }
    if (!IsOk(last)) {
      std::fprintf(stderr, "bench_device: the simulator did not see the frame\n");
      return 1;
    }
    const double read = std::atof(last.c_str() + 3);
    sendMs.push_back((t1 - t0) * 1000);
    commandMs.push_back((read - t0) * 1000);
    PumpPending();
  }
  ctl.Command("silent 0");

  // Replies: the simulator writes an unsolicited report; the UI thread keeps
  // pumping while the control answer (with the write time) comes back.
  for (int i = 0; i < runs; ++i) {
    const int before = sink.Reports;
    ctl.Send(i % 2 ? "report w1" : "report w0");
    if (!PumpUntil([&] { return sink.Reports > before; }, 5000)) {
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

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_device COMn CONTROL_PORT [RUNS]\n");
    return 2;
  }
  try {
    return Run(argv[1], _wtoi(argv[2]), argc > 3 ? std::max(1, _wtoi(argv[3])) : 200);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_device: %s\n", e.what());
    return 2;
  }
}
