#pragma once
// One reference to a global atom. Every GlobalAddAtom adds a reference that
// must be given back exactly once; this wrapper gives it back on Release or
// destruction and never twice, so it cannot take away a reference that
// another program holds on the same name.
#include <windows.h>

#include <string>

namespace kav {

class TGlobalAtom {
public:
  TGlobalAtom() noexcept = default;
  ~TGlobalAtom() { Release(); }
  TGlobalAtom(const TGlobalAtom&) = delete;
  TGlobalAtom& operator=(const TGlobalAtom&) = delete;
  TGlobalAtom(TGlobalAtom&& other) noexcept;
  TGlobalAtom& operator=(TGlobalAtom&& other) noexcept;

  // Takes one reference to the atom of `name`; Held() is false when the system refuses.
  static TGlobalAtom Add(const std::wstring& name);

  // The atom number, 0 when no reference is held.
  ATOM Value() const noexcept { return FAtom; }
  bool Held() const noexcept { return FAtom != 0; }

  // Gives the reference back; does nothing when none is held.
  void Release() noexcept;

private:
  ATOM FAtom = 0;
};

} // namespace kav
