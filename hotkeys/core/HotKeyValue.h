#pragma once
// Hot-key values and the rules around them that need no operating system:
// the ten defaults, the display text, and the modifier bits handed to the
// system's hot-key registration.
//
// A value has the layout of the Win32 hot-key control: low byte = virtual-key
// code, high byte = flags Shift 0x01, Ctrl 0x02, Alt 0x04, Ext 0x08.
// 0 means "no hot key".
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kav {

using THotKeyValue = std::uint16_t;

// Flags in the high byte of a hot-key value (the hot-key control's HOTKEYF_*).
inline constexpr std::uint8_t HotKeyFlagShift = 0x01;
inline constexpr std::uint8_t HotKeyFlagControl = 0x02;
inline constexpr std::uint8_t HotKeyFlagAlt = 0x04;
inline constexpr std::uint8_t HotKeyFlagExt = 0x08;

// Modifier bits of the system's hot-key registration (the values of MOD_*).
// Their order differs from the flags above.
inline constexpr std::uint32_t HotKeyModAlt = 0x0001;
inline constexpr std::uint32_t HotKeyModControl = 0x0002;
inline constexpr std::uint32_t HotKeyModShift = 0x0004;
inline constexpr std::uint32_t HotKeyModNoRepeat = 0x4000;

// Number of hot keys the program knows: power, blackout, inputs 1 to 8.
inline constexpr std::size_t HotKeyCount = 10;

// Default combination of each entry: Ctrl + M, Ctrl + B, F1 to F8.
inline constexpr std::array<THotKeyValue, HotKeyCount> DefaultHotKeyValues = {
    0x024D, 0x0242, 0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077};

// Default of entry `index`; 0 (no hot key) for an index beyond the ten known entries.
THotKeyValue DefaultHotKeyValue(std::size_t index) noexcept;

// Virtual-key code (low byte) and flags (high byte) of a value.
constexpr std::uint8_t HotKeyKeyCode(THotKeyValue value) noexcept {
  return static_cast<std::uint8_t>(value & 0xFF);
}
constexpr std::uint8_t HotKeyFlags(THotKeyValue value) noexcept {
  return static_cast<std::uint8_t>(value >> 8);
}
constexpr THotKeyValue MakeHotKeyValue(std::uint8_t keyCode, std::uint8_t flags) noexcept {
  return static_cast<THotKeyValue>((flags << 8) | keyCode);
}

// A value read from the settings file: only its low 16 bits count.
constexpr THotKeyValue HotKeyValueFromInt(std::int32_t stored) noexcept {
  return static_cast<THotKeyValue>(static_cast<std::uint32_t>(stored) & 0xFFFF);
}

// The platform's name for a key code outside the program's own name table
// (empty when the platform has none). Supplied by the caller.
using TPlatformKeyNameFunc = std::function<std::wstring(std::uint8_t keyCode)>;

// Name of the key code alone, without modifiers ("M", "F1", "Home", ...).
// Codes outside the table are asked of `platformName` (may be empty: no name).
std::wstring HotKeyKeyName(std::uint8_t keyCode, const TPlatformKeyNameFunc& platformName);

// Display text of a value: modifiers in the order Alt, Ctrl, Shift, Ext, then
// the key name, joined by " + " ("Alt + Ctrl + A"); empty for 0.
std::wstring HotKeyText(THotKeyValue value, const TPlatformKeyNameFunc& platformName);

// Function name and combination as shown to people: "電源制御（Ctrl + M）".
std::wstring HotKeyFuncAndText(const std::wstring& func, const std::wstring& text);

// Modifiers for the system's registration: MOD_ALT/MOD_CONTROL/MOD_SHIFT from the
// flags (Ext is not a modifier and is dropped), always with MOD_NOREPEAT so that
// holding a key down does not fire its action again and again.
std::uint32_t HotKeyModifiers(THotKeyValue value) noexcept;

// Name of the global atom that identifies entry `index` ("MyHotKey0" ...).
std::wstring HotKeyAtomName(std::size_t index);

} // namespace kav
