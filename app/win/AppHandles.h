#pragma once
// Move-only owners of the GDI and USER handles the resident program holds.
#include <windows.h>

#include "common/win/KCL_Handle.h"

namespace kav {

using TFontHandle = TUniqueResource<TNullHandleTraits<HFONT, &::DeleteObject>>;
using TIconHandle = TUniqueResource<TNullHandleTraits<HICON, &::DestroyIcon>>;
using TMenuHandle = TUniqueResource<TNullHandleTraits<HMENU, &::DestroyMenu>>;
using TWindowHandle = TUniqueResource<TNullHandleTraits<HWND, &::DestroyWindow>>;
using TDevNotifyHandle = TUniqueResource<TNullHandleTraits<HDEVNOTIFY, &::UnregisterDeviceNotification>>;

} // namespace kav
