#include "hotkeys/win/GlobalAtom.h"

#include <utility>

namespace kav {

TGlobalAtom::TGlobalAtom(TGlobalAtom&& other) noexcept : FAtom(std::exchange(other.FAtom, ATOM{0})) {}

TGlobalAtom& TGlobalAtom::operator=(TGlobalAtom&& other) noexcept {
  if (this != &other) {
    Release();
    FAtom = std::exchange(other.FAtom, ATOM{0});
  }
  return *this;
}

TGlobalAtom TGlobalAtom::Add(const std::wstring& name) {
  TGlobalAtom atom;
  atom.FAtom = GlobalAddAtomW(name.c_str());
  return atom;
}

void TGlobalAtom::Release() noexcept {
  if (FAtom != 0) GlobalDeleteAtom(std::exchange(FAtom, ATOM{0}));
}

} // namespace kav
