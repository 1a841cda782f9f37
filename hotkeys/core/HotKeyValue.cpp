#include "hotkeys/core/HotKeyValue.h"

namespace kav {

THotKeyValue DefaultHotKeyValue(std::size_t index) noexcept {
  return index < DefaultHotKeyValues.size() ? DefaultHotKeyValues[index] : THotKeyValue{0};
}

std::wstring HotKeyKeyName(std::uint8_t keyCode, const TPlatformKeyNameFunc& platformName) {
  // 0x20..0x28: Space, PgUp, PgDn, End, Home, Left, Up, Right, Down.
  static const wchar_t* const Navigation[] = {L"Space", L"PgUp", L"PgDn", L"End", L"Home",
                                              L"Left",  L"Up",   L"Right", L"Down"};
  switch (keyCode) {
  case 0x08: return L"BkSp";
  case 0x09: return L"Tab";
  case 0x0D: return L"Enter";
  case 0x1B: return L"Esc";
  case 0x2D: return L"Ins";
  case 0x2E: return L"Del";
  default: break;
  }
  if (keyCode >= 0x20 && keyCode <= 0x28) return Navigation[keyCode - 0x20];
  if (keyCode >= 0x30 && keyCode <= 0x39) return std::wstring(1, static_cast<wchar_t>(L'0' + (keyCode - 0x30)));
  if (keyCode >= 0x41 && keyCode <= 0x5A) return std::wstring(1, static_cast<wchar_t>(L'A' + (keyCode - 0x41)));
  // The numeric keypad's digits read the same as the main row's.
  if (keyCode >= 0x60 && keyCode <= 0x69) return std::wstring(1, static_cast<wchar_t>(L'0' + (keyCode - 0x60)));
  if (keyCode >= 0x70 && keyCode <= 0x87) return L"F" + std::to_wstring(keyCode - 0x70 + 1);
  // Code 0 is "no key" and has no name on any platform.
  if (keyCode == 0 || !platformName) return std::wstring();
  return platformName(keyCode);
}

std::wstring HotKeyText(THotKeyValue value, const TPlatformKeyNameFunc& platformName) {
  // This order (Alt first) is what the users have always seen in the program.
  struct TFlagName {
    std::uint8_t Flag;
    const wchar_t* Name;
  };
  static const TFlagName Order[] = {
      {HotKeyFlagAlt, L"Alt"}, {HotKeyFlagControl, L"Ctrl"}, {HotKeyFlagShift, L"Shift"}, {HotKeyFlagExt, L"Ext"}};
  const std::uint8_t flags = HotKeyFlags(value);
  std::wstring text;
  for (const auto& f : Order) {
    if ((flags & f.Flag) == 0) continue;
    if (!text.empty()) text += L" + ";
    text += f.Name;
  }
  if (!text.empty()) text += L" + ";
  return text + HotKeyKeyName(HotKeyKeyCode(value), platformName);
}

std::wstring HotKeyFuncAndText(const std::wstring& func, const std::wstring& text) {
  return func + L"\uFF08" + text + L"\uFF09";
}

std::uint32_t HotKeyModifiers(THotKeyValue value) noexcept {
  const std::uint8_t flags = HotKeyFlags(value);
  std::uint32_t mods = HotKeyModNoRepeat;
  if (flags & HotKeyFlagAlt) mods |= HotKeyModAlt;
  if (flags & HotKeyFlagControl) mods |= HotKeyModControl;
  if (flags & HotKeyFlagShift) mods |= HotKeyModShift;
  return mods;
}

std::wstring HotKeyAtomName(std::size_t index) {
  return L"MyHotKey" + std::to_wstring(index);
}

} // namespace kav
