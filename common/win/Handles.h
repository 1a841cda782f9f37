#pragma once
// Move-only owners of every kind of Win32 handle the program holds, one
// template and one closing function per kind; plus the two scoped helpers of
// drawing code (a window's DC, an object selected into a DC).
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

  Type Get() const noexcept { return Traits::Valid(FValue) ? FValue : Traits::Invalid(); }
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

// Handles that come back as null or as INVALID_HANDLE_VALUE on failure,
// closed by CloseFn. An empty owner gives null: INVALID_HANDLE_VALUE is also
// the pseudo-handle of the current process, which a wait would take.
template <auto CloseFn>
struct TFileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool Valid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { CloseFn(h); }
};

// Kernel objects: files, ports, events, processes, threads, mutexes.
using TKernelHandle = TUniqueResource<TFileHandleTraits<&::CloseHandle>>;
using TFindHandle = TUniqueResource<TFileHandleTraits<&::FindClose>>;
using TRegKey = TUniqueResource<TNullHandleTraits<HKEY, &::RegCloseKey>>;
using TEventSource = TUniqueResource<TNullHandleTraits<HANDLE, &::DeregisterEventSource>>;
using TLocalMemory = TUniqueResource<TNullHandleTraits<HLOCAL, &::LocalFree>>;
// GDI and USER objects.
using TFontHandle = TUniqueResource<TNullHandleTraits<HFONT, &::DeleteObject>>;
using TIconHandle = TUniqueResource<TNullHandleTraits<HICON, &::DestroyIcon>>;
using TMenuHandle = TUniqueResource<TNullHandleTraits<HMENU, &::DestroyMenu>>;
using TWindowHandle = TUniqueResource<TNullHandleTraits<HWND, &::DestroyWindow>>;
using TDevNotifyHandle = TUniqueResource<TNullHandleTraits<HDEVNOTIFY, &::UnregisterDeviceNotification>>;

// The DC of a window's client area (GetDC), released when the scope ends.
class TWindowDC {
public:
  explicit TWindowDC(HWND Wnd) noexcept : FWnd(Wnd), FDC(GetDC(Wnd)) {}
  ~TWindowDC() {
    if (FDC) ReleaseDC(FWnd, FDC);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC Get() const noexcept { return FDC; }

private:
  HWND FWnd;
  HDC FDC;
};

// An object selected into a DC for the scope; the one before it goes back.
class TSelectedObject {
public:
  TSelectedObject(HDC DC, HGDIOBJ Object) noexcept : FDC(DC), FOld(DC ? SelectObject(DC, Object) : nullptr) {}
  ~TSelectedObject() {
    if (FDC && FOld) SelectObject(FDC, FOld);
  }
  TSelectedObject(const TSelectedObject&) = delete;
  TSelectedObject& operator=(const TSelectedObject&) = delete;

private:
  HDC FDC;
  HGDIOBJ FOld;
};

} // namespace kav
