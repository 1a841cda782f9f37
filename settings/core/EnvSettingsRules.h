#pragma once
// The settings dialog's field rules, free of any window: key-field resets and
// the placeholder, fallback modifiers, the change check behind "適用", the
// duplicate test, the port list and what gets stored.
//
// A key field's *combination* is its value without the Ext flag: the dialog
// compares and remembers combinations only.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hotkeys/core/HotKeyValue.h"

namespace kav {

// The five check boxes of page "基本設定", top to bottom.
inline constexpr std::size_t EnvCheckBoxCount = 5;

// Shift, Ctrl and Alt: the flags that make a combination (Ext does not).
inline constexpr std::uint8_t HotKeyModifierFlags = HotKeyFlagShift | HotKeyFlagControl | HotKeyFlagAlt;

// Pause without modifiers: what a key field shows while it waits for a key.
// It can never become a hot key.
inline constexpr THotKeyValue HotKeyPlaceholder = 0x0013;

// Key codes the change rule looks at.
inline constexpr std::uint8_t VkCancel = 0x03;       // Ctrl+Break arrives as Cancel
inline constexpr std::uint8_t VkPause = 0x13;
inline constexpr std::uint8_t VkImeProcessKey = 0xE5; // the input method swallowed the key

// The value without the Ext flag (and without the unused high bits).
constexpr THotKeyValue HotKeyCombination(THotKeyValue value) noexcept {
  return MakeHotKeyValue(HotKeyKeyCode(value), HotKeyFlags(value) & HotKeyModifierFlags);
}
constexpr std::uint8_t HotKeyModifiersOf(THotKeyValue value) noexcept {
  return HotKeyFlags(value) & HotKeyModifierFlags;
}
constexpr bool IsHotKeyPlaceholder(THotKeyValue value) noexcept {
  return HotKeyCombination(value) == HotKeyPlaceholder;
}

// A key field's value has changed to Shown: true when the field must go back
// to the placeholder (the input method's process key alone; Cancel or Pause
// with any modifiers; modifier keys held without a key).
bool HotKeyFieldNeedsReset(THotKeyValue Shown) noexcept;

// A key field loses the focus while showing Shown: the value it keeps. The
// placeholder means no key was pressed, so the combination it held when it
// gained the focus comes back (without an Ext flag it may have had).
THotKeyValue HotKeyFieldExitValue(THotKeyValue Shown, THotKeyValue Hold) noexcept;

// The modifiers a key field adds to a key pressed without any (the hot-key
// control's rule for invalid combinations). Starts from the modifiers of the
// field's design-time value.
class THotKeyFieldFallback {
public:
  constexpr THotKeyFieldFallback() noexcept = default;
  explicit constexpr THotKeyFieldFallback(THotKeyValue DesignValue) noexcept
      : FModifiers(HotKeyModifiersOf(DesignValue)) {}

  std::uint8_t Modifiers() const noexcept { return FModifiers; }
  // The program puts Value into the field (filling, defaults): a value with
  // modifiers makes them the fallback; a bare key leaves it as it was.
  void ProgramSet(THotKeyValue Value) noexcept;
  // The field gains the focus while showing Shown: modifiers shown clear it.
  void FocusGained(THotKeyValue Shown) noexcept;
  // The field is reset to the placeholder while showing Shown: modifiers
  // shown clear it.
  void ResetToPlaceholder(THotKeyValue Shown) noexcept;

private:
  std::uint8_t FModifiers = 0;
};

// Fields the dialog may address together with table entries: the smaller of
// the two counts (a hand-edited file may hold fewer or more than ten entries).
constexpr std::size_t BoundHotKeyCount(std::size_t EntryCount, std::size_t FieldCount) noexcept {
  return EntryCount < FieldCount ? EntryCount : FieldCount;
}

// Function name stored with field Index's entry: "電源制御", "ブラックアウト",
// "入力1" ... ; label shown before the field: the name followed by "：".
std::wstring HotKeyFieldFuncName(std::size_t Index);
std::wstring HotKeyFieldLabel(std::size_t Index);

// The "適用" check: true when anything shown differs from what was last
// filled or committed. Fields holds the key fields' values and OldValues the
// combinations remembered per entry; only the first
// BoundHotKeyCount(EntryCount, ...) fields are compared. StorePending keeps
// the answer true after a refused write, so the user can try again.
bool IsEnvSettingsChanged(std::int32_t ComPortIndexOld, std::int32_t ComPortIndexNew,
                          const std::array<bool, EnvCheckBoxCount>& CheckBoxes,
                          const std::array<bool, EnvCheckBoxCount>& Record,
                          std::span<const THotKeyValue> Fields, std::span<const THotKeyValue> OldValues,
                          std::size_t EntryCount, bool StorePending = false);

// True when a non-zero combination occurs twice among the first
// BoundHotKeyCount(EntryCount, Fields.size()) fields (Ext ignored; 0 is "no
// hot key" and never a duplicate).
bool IsDuplicateHotKey(std::span<const THotKeyValue> Fields, std::size_t EntryCount);

// The values the default button puts into the fields: one per addressed
// field, from DefaultHotKeyValues.
std::vector<THotKeyValue> DefaultFieldValues(std::size_t EntryCount, std::size_t FieldCount);

// One table entry as the dialog stores it: the field's full value (with Ext)
// and the function name.
struct THotKeyStoreItem {
  THotKeyValue Value = 0;
  std::wstring Func;
  bool operator==(const THotKeyStoreItem&) const = default;
};
// Storing writes every field, whatever the table held: one item per field.
std::vector<THotKeyStoreItem> HotKeyStoreItems(std::span<const THotKeyValue> Fields);

// The port list: "選択してください", "COM1" to "COM20" at their usual places,
// then the ports the system has above COM20 (PresentPorts, as the system
// names them; others are ignored) in number order, then StoredPort when the
// list still lacks it, so that a stored port is shown and kept.
inline constexpr int ComPortListMax = 20;
extern const wchar_t KComPortNotSelected[];  // "選択してください"
std::vector<std::wstring> ComPortListItems(std::span<const std::wstring> PresentPorts = {},
                                           const std::wstring& StoredPort = std::wstring());
// The number n of a port named "COM" followed by n (any case; no sign, no
// leading zero), or 0 for any other name.
int ComPortNumber(const std::wstring& Port);
// Index of the item equal to Port without regard to case; -1 when none
// matches (an empty port matches nothing).
std::int32_t FindComPortIndex(std::span<const std::wstring> Items, const std::wstring& Port);
// The port to store: empty for item 0 ("選択してください"), the stored port
// unchanged when nothing is selected, the list's text otherwise.
std::wstring ComPortToStore(std::int32_t SelectedIndex, const std::wstring& ListText, const std::wstring& StoredPort);

// Texts of the communication test (ModelName for every %s).
std::wstring ComPortSelectPromptText(const std::wstring& ModelName);
std::wstring ComPortTestSuccessText(const std::wstring& ModelName);
std::wstring ComPortTestFailureText(const std::wstring& ModelName);
extern const wchar_t KDuplicateHotKeyText[];  // "重複するホットキーの設定はできません。"

} // namespace kav
