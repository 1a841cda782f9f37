// The settings value converter under arbitrary text. Two input bytes make
// one UTF-16 code unit, as the settings file's text reaches the converter.
// Checked:
//   * a decimal text (optional sign, digits) converts exactly when its value
//     fits 32 bits, to that value, whatever its length or leading zeros;
//   * a hexadecimal text ("$" or "0x"/"0X" and digits) converts by its
//     value, whatever its length or leading zeros: to that 32-bit pattern
//     when the value fits 32 bits, otherwise not at all;
//   * every other text gives the default;
//   * every value converted round-trips through the decimal text the
//     program writes back and through both hexadecimal forms;
//   * the Boolean reading is the integer reading with 1/0 as default.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/core/IniValue.h"

#include "tests/fuzz/FuzzCheck.h"

namespace {

using kav::fuzz::Expect;

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// The value of the digits from Pos on in Base, or nullopt if one is not a
// digit; Huge is set once the value has left 64 bits' comfortable range.
std::optional<uint64_t> DigitsValue(const std::wstring& Text, std::size_t Pos, int Base, bool& Huge) {
  Huge = false;
  if (Pos >= Text.size()) return std::nullopt;
  uint64_t value = 0;
  for (std::size_t i = Pos; i < Text.size(); ++i) {
    const int d = HexValue(Text[i]);
    if (d < 0 || d >= Base) return std::nullopt;
    if (value > (UINT64_MAX >> 8)) Huge = true;
    if (!Huge) value = value * static_cast<uint64_t>(Base) + static_cast<uint64_t>(d);
  }
  return value;
}

std::wstring Hex(uint32_t Value, int Width) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"%0*X", Width, Value);
  return buf;
}

void CheckRoundTrip(int32_t Value) {
  Expect(kav::ParseIniInteger(kav::IniIntegerToText(Value)) == Value, "decimal text does not read back");
  const uint32_t pattern = static_cast<uint32_t>(Value);
  Expect(kav::ParseIniInteger(L"$" + Hex(pattern, 8)) == Value, "$ and eight digits do not read back");
  Expect(kav::ParseIniInteger(L"0x" + Hex(pattern, 1)) == Value, "0x text does not read back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < Size; i += 2) text += static_cast<wchar_t>(Data[i] | (Data[i + 1] << 8));
  const std::optional<int32_t> value = kav::ParseIniInteger(text);

  std::size_t hexStart = 0;
  if (!text.empty() && text[0] == L'$') hexStart = 1;
  else if (text.size() >= 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) hexStart = 2;

  bool huge = false;
  if (hexStart) {
    const std::optional<uint64_t> digits = DigitsValue(text, hexStart, 16, huge);
    if (!digits) {
      Expect(!value, "a broken hexadecimal text converted");
    } else if (huge || *digits > UINT32_MAX) {
      Expect(!value, "a hexadecimal value beyond 32 bits converted");
    } else {
      Expect(value == static_cast<int32_t>(static_cast<uint32_t>(*digits)), "hexadecimal value");
    }
  } else {
    const bool sign = !text.empty() && (text[0] == L'+' || text[0] == L'-');
    const std::optional<uint64_t> digits = DigitsValue(text, sign ? 1 : 0, 10, huge);
    if (!digits) {
      Expect(!value, "a text that is no number converted");
    } else {
      const bool negative = sign && text[0] == L'-';
      const uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
      if (huge || *digits > limit) {
        Expect(!value, "a decimal value beyond 32 bits converted");
      } else {
        const int64_t expected = negative ? -static_cast<int64_t>(*digits) : static_cast<int64_t>(*digits);
        Expect(value == static_cast<int32_t>(expected), "decimal value");
      }
    }
  }

  const int32_t fallback = Size ? static_cast<int32_t>(Data[0]) - 128 : 30;
  Expect(kav::IniTextToInteger(text, fallback) == value.value_or(fallback), "default not given");
  Expect(kav::IniTextToBool(text, true) == (value.value_or(1) != 0), "Boolean with default true");
  Expect(kav::IniTextToBool(text, false) == (value.value_or(0) != 0), "Boolean with default false");
  Expect(kav::CapLogKeepDay(value.value_or(0)) <= kav::KMaxLogKeepDay, "LogKeepDay above its cap");
  if (value) CheckRoundTrip(*value);
  return 0;
}
