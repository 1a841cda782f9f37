#pragma once
// Move-only owners of the GDI and USER handles the resident program holds.
#include <windows.h>

#include "common/win/KCL_Handle.h"

namespace kav {

struct TFontHandleTraits {
  using Type = HFONT;
  static Type Invalid() noexcept { return nullptr; }
  static bool Valid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::DeleteObject(h); }
};
using TFontHandle = TUniqueResource<TFontHandleTraits>;

struct TIconHandleTraits {
  using Type = HICON;
  static Type Invalid() noexcept { return nullptr; }
  static bool Valid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::DestroyIcon(h); }
};
using TIconHandle = TUniqueResource<TIconHandleTraits>;

struct TMenuHandleTraits {
  using Type = HMENU;
  static Type Invalid() noexcept { return nullptr; }
  static bool Valid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::DestroyMenu(h); }
};
using TMenuHandle = TUniqueResource<TMenuHandleTraits>;

struct TWindowHandleTraits {
  using Type = HWND;
  static Type Invalid() noexcept { return nullptr; }
  static bool Valid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::DestroyWindow(h); }
};
using TWindowHandle = TUniqueResource<TWindowHandleTraits>;

struct TDevNotifyHandleTraits {
  using Type = HDEVNOTIFY;
  static Type Invalid() noexcept { return nullptr; }
  static bool Valid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::UnregisterDeviceNotification(h); }
};
using TDevNotifyHandle = TUniqueResource<TDevNotifyHandleTraits>;

} // namespace kav
