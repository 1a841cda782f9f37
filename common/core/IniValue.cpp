#include "common/core/IniValue.h"

#include <limits>

namespace kav {

namespace {

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

std::optional<int32_t> ParseHex(const std::wstring& Text, size_t Pos) {
  // Read by value, not by digit count: leading zeros are free ("0x000000071"
  // is 113), and a value up to FFFFFFFF is the 32-bit pattern ("$FFFFFFFF" is
  // -1). Anything larger does not fit and gives the default.
  if (Pos >= Text.size()) return std::nullopt;
  uint64_t value = 0;
  for (size_t i = Pos; i < Text.size(); ++i) {
    const int d = HexDigit(Text[i]);
    if (d < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint64_t>(d);
    if (value > 0xFFFFFFFFULL) return std::nullopt;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::optional<int32_t> ParseDecimal(const std::wstring& Text, size_t Pos) {
  bool negative = false;
  if (Pos < Text.size() && (Text[Pos] == L'+' || Text[Pos] == L'-')) {
    negative = Text[Pos] == L'-';
    ++Pos;
  }
  if (Pos >= Text.size()) return std::nullopt;
  // Accumulate as a magnitude so that -2147483648 fits and longer text stops early.
  const uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
  uint64_t value = 0;
  for (size_t i = Pos; i < Text.size(); ++i) {
    const wchar_t c = Text[i];
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - L'0');
    if (value > limit) return std::nullopt;
  }
  if (negative) return static_cast<int32_t>(-static_cast<int64_t>(value));
  return static_cast<int32_t>(value);
}

} // namespace

std::optional<int32_t> ParseIniInteger(const std::wstring& Text) {
  if (Text.empty()) return std::nullopt;
  if (Text[0] == L'$') return ParseHex(Text, 1);
  if (Text.size() >= 2 && Text[0] == L'0' && (Text[1] == L'x' || Text[1] == L'X')) return ParseHex(Text, 2);
  return ParseDecimal(Text, 0);
}

int32_t IniTextToInteger(const std::wstring& Text, int32_t Default) {
  return ParseIniInteger(Text).value_or(Default);
}

bool IniTextToBool(const std::wstring& Text, bool Default) {
  return IniTextToInteger(Text, Default ? 1 : 0) != 0;
}

std::wstring IniIntegerToText(int32_t Value) { return std::to_wstring(Value); }

std::wstring IniBoolToText(bool Value) { return Value ? L"1" : L"0"; }

int32_t CapLogKeepDay(int32_t Value) { return Value > KMaxLogKeepDay ? KMaxLogKeepDay : Value; }

} // namespace kav
