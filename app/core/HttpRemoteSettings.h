#pragma once
// The network remote's settings: section [Remote] of the settings file
// (HttpPort, HttpAddress, HttpKey), read once at start. Off unless HttpPort
// names a port; a network address only with an access key. Portable: the
// Win32 side reads the three texts and writes the log line this decides.
#include <cstdint>
#include <string>

namespace kav {

// Section and keys in the settings file.
inline constexpr wchar_t KHttpRemoteSection[] = L"Remote";
inline constexpr wchar_t KHttpPortIdent[] = L"HttpPort";
inline constexpr wchar_t KHttpAddressIdent[] = L"HttpAddress";
inline constexpr wchar_t KHttpKeyIdent[] = L"HttpKey";
inline constexpr wchar_t KHttpDefaultAddress[] = L"127.0.0.1";

// Where and how the server listens.
struct THttpRemoteSettings {
  uint16_t Port = 0;
  std::string Address; // dotted IPv4 ("127.0.0.1", "0.0.0.0", "192.168.1.20")
  bool Loopback = true; // Address is 127.x.x.x: only this PC can connect
  std::string Key;      // the access key; empty: none asked for
};

// What the settings ask for.
struct THttpRemotePlan {
  enum class TKind {
    Off,     // HttpPort missing, empty or 0: nothing runs, nothing is logged
    Listen,  // Settings hold where to listen
    Refused, // a value that does not do: LogText says which, nothing listens
  };
  TKind Kind = TKind::Off;
  THttpRemoteSettings Settings;
  std::wstring LogText;
};

// Decides from the three stored texts (missing keys read as empty). The
// address may also be "localhost"; the key is printable ASCII without blanks
// (it travels in an HTTP header).
THttpRemotePlan PlanHttpRemote(const std::wstring& PortText, const std::wstring& AddressText,
                               const std::wstring& KeyText);

// The log line once the server listens ("… http://127.0.0.1:8080/ で待ち受けます").
std::wstring HttpListeningLogText(const THttpRemoteSettings& Settings);
// The log line when the address and port cannot be taken: InUse when another
// program holds the port, otherwise the system's error code is given.
std::wstring HttpListenFailedLogText(const THttpRemoteSettings& Settings, bool InUse, int ErrorCode);

} // namespace kav
