#pragma once
// Where the status window goes each time it is shown.

namespace kav {

struct TWindowOrigin {
  int Left = 0;
  int Top = 0;
};

// 5 pixels inside the bottom-right corner, computed from the work area's
// width and height (not its right and bottom edges): with the taskbar at the
// top or the left the window sits higher or further left by its thickness.
constexpr TWindowOrigin PlaceBottomRight(int WorkWidth, int WorkHeight, int OuterWidth, int OuterHeight) noexcept {
  return TWindowOrigin{WorkWidth - OuterWidth - 5, WorkHeight - OuterHeight - 5};
}

// Pixels designed at 96 dots per inch, at Dpi (rounded to nearest, as MulDiv does).
constexpr int ScaleForDpi(int Pixels, int Dpi) noexcept {
  const long long scaled = static_cast<long long>(Pixels) * Dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : -((-scaled + 48) / 96));
}

} // namespace kav
