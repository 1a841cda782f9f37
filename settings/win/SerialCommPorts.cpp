#include "settings/win/SerialCommPorts.h"

#include <algorithm>
#include <utility>

#include "common/win/Handles.h"

namespace kav {

std::vector<std::wstring> ReadSerialCommPorts(HKEY Root, const wchar_t* SubKey) {
  std::vector<std::wstring> ports;
  HKEY raw = nullptr;
  if (RegOpenKeyExW(Root, SubKey, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) return ports;
  const TRegKey key(raw);
  DWORD maxName = 0, maxData = 0;
  if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return ports;
  std::vector<wchar_t> name(maxName + 1);
  std::vector<wchar_t> data(maxData / sizeof(wchar_t) + 1);
  int retries = 0;
  for (DWORD index = 0;;) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    const LONG rc = RegEnumValueW(key.Get(), index, name.data(), &nameLength, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &dataBytes);
    if (rc == ERROR_MORE_DATA && ++retries <= 3) {
      // A driver added a port while we read: make room and read this value again.
      name.resize(16384);  // the longest value name the registry allows, with its terminator
      data.resize(std::max<std::size_t>(data.size() * 2, dataBytes / sizeof(wchar_t) + 1));
      continue;
    }
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) break;  // ERROR_NO_MORE_ITEMS ends the list
    retries = 0;
    ++index;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    std::wstring port(data.data(), std::min<std::size_t>(dataBytes / sizeof(wchar_t), data.size()));
    port.erase(std::find(port.begin(), port.end(), L'\0'), port.end());  // stored with or without its terminator
    if (!port.empty()) ports.push_back(std::move(port));
  }
  return ports;
}

} // namespace kav
