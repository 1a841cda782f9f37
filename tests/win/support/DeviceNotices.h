#pragma once
// Device notices as Windows builds them, for sending WM_DEVICECHANGE to a
// window in tests.
#include <windows.h>
#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace kavtest {

// {86E0D1E0-8089-11D0-9CE4-08003E301F73}: serial ports.
inline constexpr GUID kComPortClass = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: USB devices in general.
inline constexpr GUID kUsbDeviceClass = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// DEV_BROADCAST_PORT_W as Windows fills it: the size covers the name and its terminator.
inline std::vector<BYTE> PortNotice(const std::wstring& Name) {
  const std::size_t size = offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + (Name.size() + 1) * sizeof(wchar_t);
  std::vector<BYTE> buf(size, 0);
  auto* p = reinterpret_cast<DEV_BROADCAST_PORT_W*>(buf.data());
  p->dbcp_size = static_cast<DWORD>(size);
  p->dbcp_devicetype = DBT_DEVTYP_PORT;
  std::memcpy(p->dbcp_name, Name.c_str(), (Name.size() + 1) * sizeof(wchar_t));
  return buf;
}

// DEV_BROADCAST_DEVICEINTERFACE_W with a device path, which names no port.
inline std::vector<BYTE> InterfaceNotice(const GUID& Class) {
  const std::wstring path = L"\\\\?\\USB#VID_0403&PID_6001#A1B2C3#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
  const std::size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
  std::vector<BYTE> buf(size, 0);
  auto* p = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buf.data());
  p->dbcc_size = static_cast<DWORD>(size);
  p->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  p->dbcc_classguid = Class;
  std::memcpy(p->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  return buf;
}

} // namespace kavtest
