// The hot-key display text under arbitrary values, as a hand-edited
// settings file can deliver them. Input: the stored text of a HotKey value
// (one byte per character, up to the first NUL), then the name the platform
// gives keys outside the program's own table (the rest, two bytes per
// character, possibly empty). Checked:
//   * a stored text becomes a hot-key value through its low 16 bits only;
//   * the display text reads back: the modifier names name exactly the flags
//     Alt, Ctrl, Shift, Ext, in that order, each once, and the key name
//     names the key (digits of the keypad read as the main row's; keys
//     outside the table carry the platform's name, whatever it holds);
//   * only keys outside the table ask the platform for a name;
//   * registration modifiers are Alt/Ctrl/Shift from the flags plus
//     "no repeat", nothing else;
//   * the function-and-key text wraps the key text in full-width brackets.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hotkeys/core/HotKeyValue.h"
#include "common/core/IniValue.h"

#include "tests/fuzz/FuzzCheck.h"

namespace {

using kav::fuzz::Expect;

// The key code a table name stands for; -1 for a name outside the table.
int TableKeyCode(const std::wstring& Name) {
  static const wchar_t* const Named[][2] = {{L"BkSp", L"\x08"}, {L"Tab", L"\x09"}, {L"Enter", L"\x0D"},
                                            {L"Esc", L"\x1B"},  {L"Space", L" "},  {L"PgUp", L"!"},
                                            {L"PgDn", L"\""},   {L"End", L"#"},    {L"Home", L"$"},
                                            {L"Left", L"%"},    {L"Up", L"&"},     {L"Right", L"'"},
                                            {L"Down", L"("},    {L"Ins", L"-"},    {L"Del", L"."}};
  for (const auto& n : Named)
    if (Name == n[0]) return n[1][0];
  if (Name.size() == 1 && ((Name[0] >= L'0' && Name[0] <= L'9') || (Name[0] >= L'A' && Name[0] <= L'Z')))
    return Name[0];
  for (int n = 1; n <= 24; ++n)
    if (Name == L"F" + std::to_wstring(n)) return 0x70 + n - 1;
  return -1;
}

bool InTable(uint8_t Code) {
  return Code == 0x08 || Code == 0x09 || Code == 0x0D || Code == 0x1B || Code == 0x2D || Code == 0x2E ||
         (Code >= 0x20 && Code <= 0x28) || (Code >= 0x30 && Code <= 0x39) || (Code >= 0x41 && Code <= 0x5A) ||
         (Code >= 0x60 && Code <= 0x69) || (Code >= 0x70 && Code <= 0x87);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
  std::size_t i = 0;
  std::wstring stored;
  for (; i < Size && Data[i]; ++i) stored += static_cast<wchar_t>(Data[i]);
  std::wstring platform;
  for (i += 1; i + 1 < Size; i += 2) platform += static_cast<wchar_t>(Data[i] | (Data[i + 1] << 8));

  const int32_t number = kav::IniTextToInteger(stored, 0x024D);
  const kav::THotKeyValue value = kav::HotKeyValueFromInt(number);
  Expect(value == (static_cast<uint32_t>(number) & 0xFFFF), "stored value beyond its low 16 bits");
  const uint8_t code = kav::HotKeyKeyCode(value);
  const uint8_t flags = kav::HotKeyFlags(value);

  int asked = 0;
  const kav::TPlatformKeyNameFunc name = [&](uint8_t Code) {
    ++asked;
    Expect(Code == code, "platform asked for another key");
    return platform;
  };
  const std::wstring text = kav::HotKeyText(value, name);
  Expect(asked == ((InTable(code) || code == 0) ? 0 : 1), "platform asked for a key the table names");

  // Read the text back: modifier names first, each followed by " + ", then
  // the key name. A platform name may look like anything, so for keys
  // outside the table the text must end in it and the rest is read.
  const bool named = InTable(code) || code == 0;
  Expect(named || (text.size() >= platform.size() &&
                   text.compare(text.size() - platform.size(), platform.size(), platform) == 0),
         "key outside the table without the platform's name");
  const std::size_t end = named ? text.size() : text.size() - platform.size();
  static const struct {
    uint8_t Flag;
    std::wstring Name;
  } Order[] = {{kav::HotKeyFlagAlt, L"Alt"},
               {kav::HotKeyFlagControl, L"Ctrl"},
               {kav::HotKeyFlagShift, L"Shift"},
               {kav::HotKeyFlagExt, L"Ext"}};
  std::size_t pos = 0;
  uint8_t readFlags = 0;
  for (const auto& m : Order) {
    const std::wstring part = m.Name + L" + ";
    if (end - pos >= part.size() && text.compare(pos, part.size(), part) == 0) {
      readFlags |= m.Flag;
      pos += part.size();
    }
  }
  Expect(readFlags == (flags & 0x0F), "modifier names do not match the flags");
  const std::wstring keyName = text.substr(pos, end - pos);
  if (code == 0) {
    Expect(keyName.empty(), "key code 0 has a name");
  } else if (InTable(code)) {
    const int read = TableKeyCode(keyName);
    const int expected = (code >= 0x60 && code <= 0x69) ? code - 0x60 + 0x30 : code;
    Expect(read == expected, "key name does not name its key");
  } else {
    Expect(keyName.empty(), "text between the modifiers and the platform's name");
  }
  Expect(value != 0 || text.empty(), "no hot key has a text");

  const uint32_t mods = kav::HotKeyModifiers(value);
  uint32_t expectedMods = kav::HotKeyModNoRepeat;
  if (flags & kav::HotKeyFlagAlt) expectedMods |= kav::HotKeyModAlt;
  if (flags & kav::HotKeyFlagControl) expectedMods |= kav::HotKeyModControl;
  if (flags & kav::HotKeyFlagShift) expectedMods |= kav::HotKeyModShift;
  Expect(mods == expectedMods, "registration modifiers");

  const std::wstring shown = kav::HotKeyFuncAndText(platform, text);
  Expect(shown == platform + L"\uFF08" + text + L"\uFF09", "function and key text");
  return 0;
}
