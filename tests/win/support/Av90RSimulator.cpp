#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/win/support/Av90RSimulator.h"

#include <stdexcept>

namespace kavtest {

namespace {

std::wstring Widen(const std::string& s) {
  std::wstring w;
  for (char c : s) w += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return w;
}

// A free TCP port on the loopback interface, for the simulator's control port.
int FreeLoopbackPort() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    int len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  closesocket(s);
  return port;
}

std::wstring EnvVar(const wchar_t* name) {
  wchar_t buf[4096];
  const DWORD n = GetEnvironmentVariableW(name, buf, 4096);
  return (n && n < 4096) ? std::wstring(buf, n) : L"";
}

} // namespace

TAv90RSimulator::TAv90RSimulator(const std::string& SimulatorPath, int ComNumber, const std::string& ExtraArgs)
    : FComNumber(ComNumber), FSocket(static_cast<uintptr_t>(INVALID_SOCKET)) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  const std::string& simulator = SimulatorPath;
  const std::wstring prefix = EnvVar(L"WINEPREFIX");
  if (simulator.empty() || prefix.empty()) throw std::runtime_error("KAV_SIMULATOR or WINEPREFIX is not set");
  std::wstring exe = L"Z:" + Widen(simulator);
  for (auto& c : exe)
    if (c == L'/') c = L'\\';
  const int port = FreeLoopbackPort();
  std::wstring cmd = L"\"" + exe + L"\" --link \"" + prefix + L"/dosdevices/com" + std::to_wstring(ComNumber) +
                     L"\" --control " + std::to_wstring(port) + L" --exit-with-control " + Widen(ExtraArgs);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &FProcess))
    throw std::runtime_error("cannot start the simulator: error " + std::to_string(GetLastError()));

  // It listens once its link is in place; connect as soon as it does.
  const ULONGLONG deadline = GetTickCount64() + 15000;
  for (;;) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      BOOL one = TRUE;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
      FSocket = static_cast<uintptr_t>(s);
      break;
    }
    closesocket(s);
    if (GetTickCount64() > deadline || WaitForSingleObject(FProcess.hProcess, 0) == WAIT_OBJECT_0) {
      TerminateProcess(FProcess.hProcess, 1);
      CloseHandle(FProcess.hProcess);
      CloseHandle(FProcess.hThread);
      throw std::runtime_error("the simulator did not come up");
    }
    Sleep(20);
  }
  if (Command("ping") != "ok pong") throw std::runtime_error("the simulator does not answer");
}

TAv90RSimulator::~TAv90RSimulator() {
  if (static_cast<SOCKET>(FSocket) != INVALID_SOCKET) {
    const char quit[] = "quit\n";
    send(static_cast<SOCKET>(FSocket), quit, sizeof quit - 1, 0);
    closesocket(static_cast<SOCKET>(FSocket));
  }
  if (WaitForSingleObject(FProcess.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(FProcess.hProcess, 1);
  CloseHandle(FProcess.hProcess);
  CloseHandle(FProcess.hThread);
}

std::wstring TAv90RSimulator::Port() const { return L"COM" + std::to_wstring(FComNumber); }

std::string TAv90RSimulator::Command(const std::string& Line) {
  const SOCKET s = static_cast<SOCKET>(FSocket);
  const std::string out = Line + "\n";
  if (send(s, out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size()))
    throw std::runtime_error("simulator control: send failed");
  for (;;) {
    const std::size_t nl = FPending.find('\n');
    if (nl != std::string::npos) {
      std::string answer = FPending.substr(0, nl);
      FPending.erase(0, nl + 1);
      return answer;
    }
    char buf[4096];
    const int n = recv(s, buf, sizeof buf, 0);
    if (n <= 0) throw std::runtime_error("simulator control: connection lost");
    FPending.append(buf, static_cast<std::size_t>(n));
  }
}

std::vector<std::string> TAv90RSimulator::Frames() {
  const std::string answer = Command("frames");
  std::vector<std::string> frames;
  if (answer.rfind("ok", 0) != 0) return frames;
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

std::size_t TAv90RSimulator::Received() {
  const std::string answer = Command("received");
  if (answer.rfind("ok ", 0) != 0) throw std::runtime_error("simulator control: " + answer);
  return static_cast<std::size_t>(std::stoul(answer.substr(3)));
}

bool PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + TimeoutMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (Done()) return true;
    if (GetTickCount64() > deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
}

void PumpFor(DWORD Ms) {
  PumpUntil([] { return false; }, Ms);
}

} // namespace kavtest
