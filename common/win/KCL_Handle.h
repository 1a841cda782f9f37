#pragma once
// Move-only owners of Win32 handles, one kind per closing function.
#include <windows.h>

#include <utility>

namespace kav {

template <class Traits>
class TUniqueResource {
public:
  using Type = typename Traits::Type;

  TUniqueResource() noexcept : FValue(Traits::Invalid()) {}
  explicit TUniqueResource(Type Value) noexcept : FValue(Value) {}
  ~TUniqueResource() { Reset(); }
  TUniqueResource(const TUniqueResource&) = delete;
  TUniqueResource& operator=(const TUniqueResource&) = delete;
  TUniqueResource(TUniqueResource&& Other) noexcept : FValue(Other.Release()) {}
  TUniqueResource& operator=(TUniqueResource&& Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }

  Type Get() const noexcept { return FValue; }
  bool Valid() const noexcept { return Traits::Valid(FValue); }
  explicit operator bool() const noexcept { return Valid(); }

  // Gives up ownership without closing.
  Type Release() noexcept { return std::exchange(FValue, Traits::Invalid()); }
  // Closes the held handle and takes Value.
  void Reset(Type Value = Traits::Invalid()) noexcept {
    if (Traits::Valid(FValue)) Traits::Close(FValue);
    FValue = Value;
  }

private:
  Type FValue;
};

// Handles whose "none" is null, closed by CloseFn.
template <class T, auto CloseFn>
struct TNullHandleTraits {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static bool Valid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { CloseFn(h); }
};

// Handles that may come back as null or INVALID_HANDLE_VALUE, closed by CloseFn.
template <auto CloseFn>
struct TFileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Valid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { CloseFn(h); }
};

// Kernel object handles (files, events, processes, threads, mutexes).
using TKernelHandle = TUniqueResource<TFileHandleTraits<&::CloseHandle>>;
using TFindHandle = TUniqueResource<TFileHandleTraits<&::FindClose>>;
using TRegKey = TUniqueResource<TNullHandleTraits<HKEY, &::RegCloseKey>>;
using TEventSource = TUniqueResource<TNullHandleTraits<HANDLE, &::DeregisterEventSource>>;
using TLocalMemory = TUniqueResource<TNullHandleTraits<HLOCAL, &::LocalFree>>;

} // namespace kav
