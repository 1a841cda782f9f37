#pragma once
// Move-only owner of a kernel HANDLE (file, event, thread); closes it once.
#include <windows.h>

#include <utility>

namespace kav {

class TWinHandle {
public:
  TWinHandle() noexcept = default;
  explicit TWinHandle(HANDLE h) noexcept : FHandle(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~TWinHandle() { Reset(); }
  TWinHandle(const TWinHandle&) = delete;
  TWinHandle& operator=(const TWinHandle&) = delete;
  TWinHandle(TWinHandle&& other) noexcept : FHandle(std::exchange(other.FHandle, nullptr)) {}
  TWinHandle& operator=(TWinHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      FHandle = std::exchange(other.FHandle, nullptr);
    }
    return *this;
  }

  HANDLE Get() const noexcept { return FHandle; }
  explicit operator bool() const noexcept { return FHandle != nullptr; }
  // Closes the handle held now (if any) and takes h.
  void Reset(HANDLE h = nullptr) noexcept {
    if (FHandle) CloseHandle(FHandle);
    FHandle = (h == INVALID_HANDLE_VALUE) ? nullptr : h;
  }

private:
  HANDLE FHandle = nullptr;
};

} // namespace kav
