#include "device/core/PortClaim.h"

namespace kav {

std::wstring PortClaimName(const std::wstring& Port) {
  std::wstring name = Port.rfind(L"\\\\.\\", 0) == 0 ? Port.substr(4) : Port;
  for (auto& c : name) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c == L'\\') c = L'_';
  }
  return L"Global\\KAV90R_HotKeyController.Port." + name;
}

} // namespace kav
