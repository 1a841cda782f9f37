#include "common/win/KCL_Clock.h"

#include <windows.h>

namespace kav {

TDateTimeParts ReadLocalTime() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return TDateTimeParts{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

int64_t ReadUtcMilliseconds() {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000);
}

} // namespace kav
