#pragma once
// A flag that holds a value while a scope lasts ("a close is under way",
// "the dialog is open") and is set back when the scope ends, also when an
// exception leaves it.

namespace kav {

class TScopedFlag {
public:
  explicit TScopedFlag(bool& Flag, bool During = true) : FFlag(Flag), FAfter(!During) { FFlag = During; }
  ~TScopedFlag() { FFlag = FAfter; }
  TScopedFlag(const TScopedFlag&) = delete;
  TScopedFlag& operator=(const TScopedFlag&) = delete;

private:
  bool& FFlag;
  const bool FAfter;
};

} // namespace kav
