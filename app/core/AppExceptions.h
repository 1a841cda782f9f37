#pragma once
// The two kinds of program error that the application-wide handler shows;
// every other exception that reaches it is dropped. A hardware access
// violation is turned into EAccessViolation before it is shown.
#include <cstdint>
#include <exception>
#include <string>

#include "common/core/AppError.h"

namespace kav {

class EAccessViolation : public EKavError {
public:
  using EKavError::EKavError;
};

class EInvalidPointer : public EKavError {
public:
  using EKavError::EKavError;
};

// Value in upper-case hexadecimal, at least Digits wide (leading zeros).
std::wstring HexText(uint64_t Value, int Digits);

// "モジュール '<Module>' のアドレス <Address> でアドレス <Target> に対する
// 読み込み違反がおきました" (書き込み/実行 for writes and execution). Addresses in
// upper-case hexadecimal, HexDigits wide.
std::wstring AccessViolationText(const std::wstring& Module, uint64_t Address, uint64_t Target,
                                 int Operation, int HexDigits);

// Operation codes of an access violation (the first parameter of the record).
inline constexpr int AccessRead = 0;
inline constexpr int AccessWrite = 1;
inline constexpr int AccessExecute = 8;

// "無効なポインタ操作" for heap corruption and the like.
inline constexpr wchar_t InvalidPointerText[] = L"無効なポインタ操作";

// True for the exceptions the application-wide handler shows.
bool IsShownException(const std::exception_ptr& E) noexcept;

// The message to show for E: the innermost non-empty message of a chain of
// nested exceptions (std::throw_with_nested), else E's own message.
std::wstring ExceptionMessage(const std::exception_ptr& E);

// Readable name of the type of the innermost exception of E's nested chain
// (E's own type when it wraps nothing), for the error log: "kav::EKavError".
std::string ExceptionClassName(const std::exception_ptr& E);

// The text of the standard exception box: a full stop is appended when the
// last character's code is above that of "." (0x2E).
std::wstring AppendFullStop(const std::wstring& Message);

} // namespace kav
