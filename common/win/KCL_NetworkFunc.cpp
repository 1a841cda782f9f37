#include "common/win/KCL_NetworkFunc.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <vector>

namespace kav {

namespace {

// Starts Windows Sockets for the lifetime of one call.
class TWinsockSession {
public:
  TWinsockSession() { FStarted = WSAStartup(MAKEWORD(2, 2), &FData) == 0; }
  ~TWinsockSession() {
    if (FStarted) WSACleanup();
  }
  TWinsockSession(const TWinsockSession&) = delete;
  TWinsockSession& operator=(const TWinsockSession&) = delete;
  bool Started() const { return FStarted; }

private:
  WSADATA FData{};
  bool FStarted = false;
};

std::wstring DottedDecimal(const in_addr& Address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&Address);
  return std::to_wstring(b[0]) + L"." + std::to_wstring(b[1]) + L"." + std::to_wstring(b[2]) + L"." +
         std::to_wstring(b[3]);
}

} // namespace

std::wstring TNetworkFunc::GetIPAddress(const std::wstring& HostName) {
  try {
    const TWinsockSession session;
    if (!session.Started()) return std::wstring();
    std::wstring host = HostName;
    if (host.empty()) {
      char local[260] = {};
      if (gethostname(local, sizeof(local)) != 0) return std::wstring();
      const int length = MultiByteToWideChar(CP_ACP, 0, local, -1, nullptr, 0);
      if (length <= 0) return std::wstring();
      std::vector<wchar_t> wide(static_cast<size_t>(length));
      MultiByteToWideChar(CP_ACP, 0, local, -1, wide.data(), length);
      host = wide.data();
    }
    // Asking for IPv4 only: the first IPv4 answer even where IPv6 comes first.
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    ADDRINFOW* answer = nullptr;
    if (GetAddrInfoW(host.c_str(), nullptr, &hints, &answer) != 0 || answer == nullptr) return std::wstring();
    std::wstring result;
    for (const ADDRINFOW* a = answer; a != nullptr; a = a->ai_next) {
      if (a->ai_family == AF_INET && a->ai_addr != nullptr && a->ai_addrlen >= sizeof(sockaddr_in)) {
        result = DottedDecimal(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr);
        break;
      }
    }
    FreeAddrInfoW(answer);
    return result;
  } catch (...) {
    return std::wstring();
  }
}

std::wstring GetComputerNameText() {
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(buffer, &length)) return std::wstring();
  return std::wstring(buffer, length);
}

} // namespace kav
