#include "common/win/KCL_RegistryFunc.h"

#include <windows.h>

#include "common/win/KCL_AppData.h"
#include "common/win/Handles.h"

namespace kav {

namespace {

constexpr wchar_t KEventLogApplicationKey[] = L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\";

void SetValue(HKEY Key, const wchar_t* Name, DWORD Type, const void* Data, DWORD Size) {
  if (RegSetValueExW(Key, Name, 0, Type, static_cast<const BYTE*>(Data), Size) != ERROR_SUCCESS) {
    throw ERegistryError(std::wstring(L"'") + Name + L"' の設定に失敗しました");
  }
}

} // namespace

std::wstring TRegistryFunc::EventLogSourceKey(const std::wstring& SourceName) {
  return KEventLogApplicationKey + SourceName;
}

void TRegistryFunc::SetEventLogSource(const std::wstring& FileFullPath) {
  if (ExeBaseName.empty()) return;  // no source name yet: nothing sensible to register
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventLogSourceKey(ExeBaseName).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    return;  // an ordinary user may not write there; the source stays as it was
  }
  const TRegKey key(raw);
  SetValue(key.Get(), L"EventMessageFile", REG_SZ, FileFullPath.c_str(),
           static_cast<DWORD>((FileFullPath.size() + 1) * sizeof(wchar_t)));
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  SetValue(key.Get(), L"TypesSupported", REG_DWORD, &types, sizeof(types));
}

} // namespace kav
