#pragma once
// The switcher simulator's control port, one text line a command and one
// answer line each ("ok ..." / "err ..."), over a loopback TCP connection.
// Tests reach it through TAv90RSimulator; benchmarks that start the
// simulator themselves use it directly.
#include <cstdint>
#include <cstddef>
#include <string>
#include <vector>

namespace kavtest {

class TSimulatorControl {
public:
  TSimulatorControl();
  // Closes the connection (a simulator started with --exit-with-control ends).
  virtual ~TSimulatorControl();
  TSimulatorControl(const TSimulatorControl&) = delete;
  TSimulatorControl& operator=(const TSimulatorControl&) = delete;

  // Connects to the control port on 127.0.0.1; false when nobody listens there (yet).
  bool Connect(int Port);
  // Sends one control line without waiting for its answer. Throws std::runtime_error on failure.
  void Send(const std::string& Line);
  // The next answer line. Throws std::runtime_error when the connection is lost.
  std::string Receive();
  // Sends one control line and returns its answer line.
  std::string Command(const std::string& Line);
  // Frames received since start or the last "clear", as the simulator shows them.
  std::vector<std::string> Frames();
  // Bytes received from the host since start or the last "clear", frame or not.
  std::size_t Received();
  // Ends the connection now.
  void Disconnect();

private:
  uintptr_t FSocket;
  std::string FPending;
};

// Whether a control answer line says the command was done ("ok ...").
inline bool IsOk(const std::string& Answer) { return Answer.rfind("ok", 0) == 0; }

} // namespace kavtest
