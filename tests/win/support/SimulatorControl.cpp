#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/win/support/SimulatorControl.h"

#include <stdexcept>

namespace kavtest {

TSimulatorControl::TSimulatorControl() : FSocket(static_cast<uintptr_t>(INVALID_SOCKET)) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
}

TSimulatorControl::~TSimulatorControl() {
  Disconnect();
  WSACleanup();
}

bool TSimulatorControl::Connect(int Port) {
  Disconnect();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<u_short>(Port));
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    closesocket(s);
    return false;
  }
  // Each command is one small write; waiting to fill a packet would only add latency.
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  FSocket = static_cast<uintptr_t>(s);
  FPending.clear();
  return true;
}

void TSimulatorControl::Disconnect() {
  if (static_cast<SOCKET>(FSocket) == INVALID_SOCKET) return;
  closesocket(static_cast<SOCKET>(FSocket));
  FSocket = static_cast<uintptr_t>(INVALID_SOCKET);
}

void TSimulatorControl::Send(const std::string& Line) {
  const std::string out = Line + "\n";
  if (send(static_cast<SOCKET>(FSocket), out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size()))
    throw std::runtime_error("simulator control: send failed");
}

std::string TSimulatorControl::Receive() {
  for (;;) {
    const std::size_t nl = FPending.find('\n');
    if (nl != std::string::npos) {
      std::string answer = FPending.substr(0, nl);
      FPending.erase(0, nl + 1);
      return answer;
    }
    char buf[4096];
    const int n = recv(static_cast<SOCKET>(FSocket), buf, sizeof buf, 0);
    if (n <= 0) throw std::runtime_error("simulator control: connection lost");
    FPending.append(buf, static_cast<std::size_t>(n));
  }
}

std::string TSimulatorControl::Command(const std::string& Line) {
  Send(Line);
  return Receive();
}

std::vector<std::string> TSimulatorControl::Frames() {
  const std::string answer = Command("frames");
  std::vector<std::string> frames;
  if (!IsOk(answer)) return frames;
  std::string rest = answer.size() > 3 ? answer.substr(3) : "";
  std::size_t start = 0;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',', start);
    frames.push_back(rest.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return frames;
}

std::size_t TSimulatorControl::Received() {
  const std::string answer = Command("received");
  if (answer.rfind("ok ", 0) != 0) throw std::runtime_error("simulator control: " + answer);
  return static_cast<std::size_t>(std::stoul(answer.substr(3)));
}

} // namespace kavtest
