#include "tests/win/support/HostEnvironment.h"

#include <windows.h>

#include "common/core/TextUtil.h"

namespace kavtest {

std::wstring EnvVar(const wchar_t* Name) {
  wchar_t buf[4096];
  const DWORD n = GetEnvironmentVariableW(Name, buf, 4096);
  return (n && n < 4096) ? std::wstring(buf, n) : L"";
}

std::wstring WinePath(const std::string& LinuxPath) {
  std::wstring path = L"Z:" + kav::FromUtf8(LinuxPath);
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

} // namespace kavtest
