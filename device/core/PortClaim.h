#pragma once
// One owner of a COM port on the whole machine. Ports are opened
// exclusively, but with several people signed in (fast user switching) each
// session runs its own instance of the program, and each would take the port
// from the other. While an instance holds a port open it also holds a
// machine-wide named object for it; an instance that finds the object leaves
// the port alone.
#include <string>

namespace kav {

// "Global\KAV90R_HotKeyController.Port.COM5" for "COM5", "com5" or
// "\\.\COM5": the name without the device-namespace prefix, in upper case
// (ASCII), with any other backslash replaced (object names take none).
std::wstring PortClaimName(const std::wstring& Port);

} // namespace kav
