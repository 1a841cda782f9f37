#include "app/win/DeviceNotice.h"

#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "app/core/LinkRefresh.h"
#include "settings/win/SerialCommPorts.h"

namespace kav {

namespace {

// The serial-port device interface class ({86E0D1E0-8089-11D0-9CE4-08003E301F73}),
// defined here so that nothing beyond the system's known DLLs is linked.
constexpr GUID KComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
// No COM port name comes near this; a longer "name" is not one.
constexpr std::size_t KMaxPortNameChars = 64;

bool ListedAsSerialPort(const std::wstring& Port) {
  const std::vector<std::wstring> ports = ReadSerialCommPorts();
  return std::any_of(ports.begin(), ports.end(), [&](const std::wstring& p) { return SamePortName(Port, p); });
}

} // namespace

TDeviceNotice ReadDeviceNotice(LPARAM Data) {
  TDeviceNotice notice;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(Data);
  if (!header || header->dbch_size < sizeof(DEV_BROADCAST_HDR)) return notice;
  const std::size_t size = header->dbch_size;
  if (header->dbch_devicetype == DBT_DEVTYP_PORT) {
    constexpr std::size_t nameAt = offsetof(DEV_BROADCAST_PORT_W, dbcp_name);
    if (size < nameAt + sizeof(wchar_t)) return notice;
    const auto* name = reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header)->dbcp_name;
    const std::size_t room = (size - nameAt) / sizeof(wchar_t);
    std::size_t len = 0;
    while (len < room && len <= KMaxPortNameChars && name[len] != L'\0') ++len;
    if (len == 0 || len > KMaxPortNameChars) return notice;
    notice.Kind = TDeviceNotice::TKind::Port;
    notice.PortName.assign(name, len);
  } else if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
    if (size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) return notice;
    if (IsEqualGUID(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_classguid, KComPortInterface))
      notice.Kind = TDeviceNotice::TKind::ComInterface;
  }
  return notice;
}

bool SerialPortPresent(const std::wstring& Port) {
  const std::wstring name = PlainPortName(Port);
  if (name.empty()) return false;
  wchar_t target[MAX_PATH];
  if (QueryDosDeviceW(name.c_str(), target, MAX_PATH) != 0 || GetLastError() == ERROR_INSUFFICIENT_BUFFER) return true;
  return ListedAsSerialPort(name);
}

TDevNotifyHandle RegisterComInterfaceNotification(HWND Window) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = KComPortInterface;
  return TDevNotifyHandle(RegisterDeviceNotificationW(Window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

} // namespace kav
