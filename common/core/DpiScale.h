#pragma once
// Windows' forms are designed in pixels at 96 dots per inch.

namespace kav {

// Pixels designed at 96 dots per inch, at Dpi (rounded to nearest, as MulDiv does).
constexpr int ScaleForDpi(int Pixels, int Dpi) noexcept {
  const long long scaled = static_cast<long long>(Pixels) * Dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : -((-scaled + 48) / 96));
}

} // namespace kav
