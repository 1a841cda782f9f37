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

} // namespace kav
