#include "hotkeys/win/clsHotKeyInfo.h"

namespace kav {

std::wstring PlatformKeyName(std::uint8_t keyCode) {
  // The _EX form reports extended keys with an E0/E1 prefix; GetKeyNameText
  // needs that as bit 24, or the keypad's "/" would read as the main-row "/".
  const UINT scan = MapVirtualKeyW(keyCode, MAPVK_VK_TO_VSC_EX);
  if (scan == 0) return std::wstring();
  LONG lParam = static_cast<LONG>((scan & 0xFF) << 16);
  if ((scan & 0xFF00) == 0xE000 || (scan & 0xFF00) == 0xE100) lParam |= 1L << 24;
  wchar_t name[128] = {};
  const int length = GetKeyNameTextW(lParam, name, static_cast<int>(std::size(name)));
  return length > 0 ? std::wstring(name, static_cast<std::size_t>(length)) : std::wstring();
}

} // namespace kav
