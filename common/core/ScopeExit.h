#pragma once
// Runs a function when the scope ends, also when an exception leaves it: the
// one way the program undoes a temporary state that is more than a flag (see
// TScopedFlag for a flag).
#include <utility>

namespace kav {

template <class F>
class TScopeExit {
public:
  explicit TScopeExit(F Fn) : FFn(std::move(Fn)) {}
  ~TScopeExit() { FFn(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

private:
  F FFn;
};

} // namespace kav
