#pragma once
// Gives a variable of the program (a path, a folder) another value for the
// life of the object, and puts the old one back afterwards.
#include <utility>

namespace kavtest {

template <class T>
class TScopedValue {
public:
  TScopedValue(T& Variable, T Value) : FVariable(Variable), FOld(std::exchange(Variable, std::move(Value))) {}
  ~TScopedValue() { FVariable = std::move(FOld); }
  TScopedValue(const TScopedValue&) = delete;
  TScopedValue& operator=(const TScopedValue&) = delete;

private:
  T& FVariable;
  T FOld;
};

} // namespace kavtest
