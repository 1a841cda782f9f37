#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/win/support/Av90RSimulator.h"

#include <stdexcept>

#include "common/core/TextUtil.h"
#include "tests/win/support/HostEnvironment.h"

namespace kavtest {

namespace {

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

} // namespace

TAv90RSimulator::TAv90RSimulator(const std::string& SimulatorPath, int ComNumber, const std::string& ExtraArgs)
    : FComNumber(ComNumber) {
  const std::wstring prefix = EnvVar(L"WINEPREFIX");
  if (SimulatorPath.empty() || prefix.empty()) throw std::runtime_error("KAV_SIMULATOR or WINEPREFIX is not set");
  const int port = FreeLoopbackPort();
  std::wstring cmd = L"\"" + WinePath(SimulatorPath) + L"\" --link \"" + prefix + L"/dosdevices/com" +
                     std::to_wstring(ComNumber) + L"\" --control " + std::to_wstring(port) +
                     L" --exit-with-control " + kav::FromUtf8(ExtraArgs);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &FProcess))
    throw std::runtime_error("cannot start the simulator: error " + std::to_string(GetLastError()));

  // It listens once its link is in place; connect as soon as it does.
  const ULONGLONG deadline = GetTickCount64() + 15000;
  while (!Connect(port)) {
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
  try {
    Send("quit");
  } catch (const std::exception&) {
    // Already gone: nothing to ask.
  }
  Disconnect();
  if (WaitForSingleObject(FProcess.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(FProcess.hProcess, 1);
  CloseHandle(FProcess.hProcess);
  CloseHandle(FProcess.hThread);
}

std::wstring TAv90RSimulator::Port() const { return L"COM" + std::to_wstring(FComNumber); }

} // namespace kavtest
