#pragma once
// Windows' device notices as the status window reads them: which port a
// WM_DEVICECHANGE message names, whether a COM port exists right now, and
// the registration for serial-port interface notices.
#include <windows.h>

#include <string>

#include "common/win/Handles.h"

namespace kav {

struct TDeviceNotice {
  enum class TKind {
    Other,        // no structure, one we do not follow, or one that does not hold together
    Port,         // a port by name (PortName)
    ComInterface, // a serial-port interface; its device path names no port
  };
  TKind Kind = TKind::Other;
  std::wstring PortName;
};

// Reads the structure of a WM_DEVICECHANGE arrival or removal. Trusts none of
// it: a null pointer, a size too small for the stated type or a type we do
// not follow give Other; a port name is read only within the stated size.
TDeviceNotice ReadDeviceNotice(LPARAM Data);

// True when a COM port of that name exists now: its DOS device name is
// defined, or the system's list of serial ports holds it. "COM5" and
// "\\.\COM5" both work.
bool SerialPortPresent(const std::wstring& Port);

// Asks Windows to send Window the arrivals and removals of serial-port
// interfaces, which some adapters announce instead of their port. Null when
// the system refuses; the port notices then still arrive.
TDevNotifyHandle RegisterComInterfaceNotification(HWND Window);

} // namespace kav
