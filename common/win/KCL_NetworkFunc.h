#pragma once
// Network functions of the program family, and the computer name.
#include <string>

namespace kav {

class TNetworkFunc {
public:
  TNetworkFunc() = delete;

  // First IPv4 address of HostName in dotted decimal; an empty HostName means
  // this computer. Empty text when it cannot be found. Never throws.
  static std::wstring GetIPAddress(const std::wstring& HostName);
};

// NetBIOS name of this computer (at most 15 characters); empty text when the
// system call fails. Never throws.
std::wstring GetComputerNameText();

} // namespace kav
