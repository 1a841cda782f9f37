#pragma once
// Conversion rules of settings values, the same for every key of the INI
// file. Portable; the Win32 side only moves the texts.
#include <cstdint>
#include <optional>
#include <string>

namespace kav {

// Longest string value read from the file, in characters.
inline constexpr size_t KIniMaxValueLength = 2047;

// A 32-bit signed integer from its stored text: decimal with optional sign,
// or hexadecimal after "0x"/"0X" or "$" (any number of leading zeros; a value
// up to FFFFFFFF is taken as the 32-bit pattern, so $FFFFFFFF is -1). nullopt
// for anything else, including empty text and values that do not fit 32 bits.
std::optional<int32_t> ParseIniInteger(const std::wstring& Text);

// ParseIniInteger, or Default when the text does not convert.
int32_t IniTextToInteger(const std::wstring& Text, int32_t Default);

// Boolean read as an integer with default 1/0; any non-zero value is true.
bool IniTextToBool(const std::wstring& Text, bool Default);

// Decimal text, with a minus sign when negative.
std::wstring IniIntegerToText(int32_t Value);

// "1" or "0".
std::wstring IniBoolToText(bool Value);

// The LogKeepDay rule: values above 365 give 365, no lower bound.
int32_t CapLogKeepDay(int32_t Value);

inline constexpr int32_t KDefaultLogKeepDay = 30;
inline constexpr int32_t KMaxLogKeepDay = 365;

} // namespace kav
