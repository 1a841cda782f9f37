#include "app/core/AppExceptions.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cwchar>
#include <typeinfo>

#include "common/core/TextUtil.h"

namespace kav {

std::wstring HexText(uint64_t Value, int Digits) {
  wchar_t buf[32];
  std::swprintf(buf, 32, L"%0*llX", Digits, static_cast<unsigned long long>(Value));
  return buf;
}

namespace {

// Message of one exception object, without looking at what it wraps.
std::wstring OwnMessage(const std::exception_ptr& E) {
  try {
    std::rethrow_exception(E);
  } catch (const EKavError& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return FromUtf8(e.what());
  } catch (...) {
    return {};
  }
}

// "kav::EKavError" for the compiler's "N3kav9EKavErrorE"; the raw name when
// it cannot be read.
std::string Demangle(const char* Name) {
  int status = 0;
  char* readable = abi::__cxa_demangle(Name, nullptr, nullptr, &status);
  std::string result = (status == 0 && readable) ? readable : Name;
  std::free(readable);
  return result;
}

// What E wraps (null when nothing).
std::exception_ptr Inner(const std::exception_ptr& E) {
  try {
    std::rethrow_exception(E);
  } catch (const std::nested_exception& n) {
    return n.nested_ptr();
  } catch (...) {
    return nullptr;
  }
}

} // namespace

std::wstring AccessViolationText(const std::wstring& Module, uint64_t Address, uint64_t Target,
                                 int Operation, int HexDigits) {
  const wchar_t* kind = Operation == AccessWrite ? L"書き込み" : Operation == AccessExecute ? L"実行" : L"読み込み";
  return L"モジュール '" + Module + L"' のアドレス " + HexText(Address, HexDigits) + L" でアドレス " +
         HexText(Target, HexDigits) + L" に対する" + kind + L"違反がおきました";
}

bool IsShownException(const std::exception_ptr& E) noexcept {
  if (!E) return false;
  try {
    std::rethrow_exception(E);
  } catch (const EAccessViolation&) {
    return true;
  } catch (const EInvalidPointer&) {
    return true;
  } catch (...) {
    return false;
  }
}

std::wstring ExceptionMessage(const std::exception_ptr& E) {
  std::wstring message;
  // A chain deeper than this is a loop or nonsense; stop looking.
  int depth = 0;
  for (std::exception_ptr p = E; p && depth < 64; p = Inner(p), ++depth) {
    std::wstring own = OwnMessage(p);
    if (!own.empty()) message = std::move(own);
  }
  return message;
}

std::string ExceptionClassName(const std::exception_ptr& E) {
  if (!E) return {};
  // The class that was thrown first is what the record must name; the
  // wrappers around it say only that something caught and rethrew it.
  std::exception_ptr innermost = E;
  int depth = 0;
  for (std::exception_ptr p = Inner(E); p && depth < 64; p = Inner(p), ++depth) innermost = p;
  try {
    std::rethrow_exception(innermost);
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    return type ? Demangle(type->name()) : "unknown";
  }
}

std::wstring AppendFullStop(const std::wstring& Message) {
  if (!Message.empty() && Message.back() > L'.') return Message + L".";
  return Message;
}

} // namespace kav
