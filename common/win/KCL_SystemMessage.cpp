#include "common/win/KCL_SystemMessage.h"

#include "common/win/Handles.h"

namespace kav {

std::wstring SystemErrorMessage(DWORD Code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, Code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const TLocalMemory owner(buffer);
  std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  if (text.empty()) text = L"エラー " + std::to_wstring(Code);
  return text;
}

} // namespace kav
