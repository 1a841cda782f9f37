#!/usr/bin/env bash
# Builds everything: the native build (portable core, unit tests, simulator),
# the 64-bit Windows build (program and Win32 tests, run under Wine) and the
# 32-bit Windows build (the shipped program; with its tests when
# KAV_WIN32_TESTS=1).
#   scripts/build.sh            all three
#   scripts/build.sh native     one of: native win64 win32 (or fuzz: the
#                               libFuzzer targets under build/fuzz)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
B="${KAV_BUILD_DIR:-$ROOT/build}"
JOBS="${KAV_JOBS:-$(nproc)}"
GEN=(); command -v ninja >/dev/null && GEN=(-G Ninja)

build_native() {
  cmake -S "$ROOT" -B "$B/native" "${GEN[@]}" -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$B/native" -j "$JOBS"
}
build_win64() {
  cmake -S "$ROOT" -B "$B/win64" "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-x86_64.cmake" \
    -DKAV_SIMULATOR="$B/native/tools/simulator/av90r_sim" >/dev/null
  cmake --build "$B/win64" -j "$JOBS"
}
# Fuzz targets (clang, libFuzzer, ASan, UBSan): a build of their own; the
# test command builds and runs it, it is not part of the default three.
build_fuzz() {
  cmake -S "$ROOT/tests/fuzz" -B "$B/fuzz" "${GEN[@]}" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$B/fuzz" -j "$JOBS"
}
build_win32() {
  # With KAV_WIN32_TESTS=1 (scripts/test.sh on a machine that runs 32-bit
  # programs) the shipped build carries the Win32 and end-to-end tests too.
  local tests=OFF
  [ "${KAV_WIN32_TESTS:-}" = 1 ] && tests=ON
  cmake -S "$ROOT" -B "$B/win32" "${GEN[@]}" -DCMAKE_BUILD_TYPE=MinSizeRel -DKAV_BUILD_TESTS=$tests \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-i686.cmake" \
    -DKAV_SIMULATOR="$B/native/tools/simulator/av90r_sim" >/dev/null
  cmake --build "$B/win32" -j "$JOBS"
}

targets=("$@"); [ ${#targets[@]} -eq 0 ] && targets=(native win64 win32)
for t in "${targets[@]}"; do
  echo "== build $t"
  "build_$t"
done
