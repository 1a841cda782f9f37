#pragma once
// The serial ports the system has, as Windows lists them: one value per port
// under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, its data the port name ("COM23").
#include <windows.h>

#include <string>
#include <vector>

namespace kav {

inline constexpr wchar_t KSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The port names listed under Root\SubKey, in the key's value order; values
// that are no string are skipped. Empty when the key is missing or cannot be
// read (no port driver loaded): the caller's fixed list still stands.
std::vector<std::wstring> ReadSerialCommPorts(HKEY Root = HKEY_LOCAL_MACHINE, const wchar_t* SubKey = KSerialCommKey);

} // namespace kav
