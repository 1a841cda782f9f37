#pragma once
// Base of the program's own exceptions: they carry the Japanese message that
// a person may be shown, as wide text.
#include <exception>
#include <string>

#include "common/core/TextUtil.h"

namespace kav {

class EKavError : public std::exception {
public:
  explicit EKavError(std::wstring message) : FMessage(std::move(message)), FUtf8(ToUtf8(FMessage)) {}
  // The text shown to the user.
  const std::wstring& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FUtf8.c_str(); }

private:
  std::wstring FMessage;
  std::string FUtf8;
};

} // namespace kav
