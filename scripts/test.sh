#!/usr/bin/env bash
# Runs every test: set-up (idempotent), the builds, the native unit tests
# (with sanitizers), then the Win32 and end-to-end tests under Wine in a
# throw-away prefix on a private Xvfb display. Ends with a line that says
# which Windows build those ran on and why, then "N passed, N failed".
#
# The Win32 and end-to-end tests run the shipped 32-bit (i686) build where
# this machine starts 32-bit Windows programs (its 32-bit Wine loader runs,
# then the i686 probe in a win32 prefix), and the 64-bit twin otherwise.
#   KAV_SKIP_SETUP=1   skip the package check
#   KAV_TEST_FILTER=RE only CTest tests whose names match RE
#   KAV_BUILD_DIR=DIR  build folder (default build/), so several work trees or
#                      people can build and test side by side
#   KAV_WIN_BUILD=win32|win64  force the Windows build instead of asking
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
B="${KAV_BUILD_DIR:-$ROOT/build}"
cd "$ROOT"

if [ -z "${KAV_SKIP_SETUP:-}" ]; then
  bash "$ROOT/scripts/setup.sh" || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }
fi

passed=0; failed=0
count_ctest() {
  # Adds the counts of one CTest log to the totals.
  local log="$1" total fails
  total=$(grep -Eo 'tests failed out of [0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -n1)
  fails=$(grep -Eo '[0-9]+ tests failed out of' "$log" | grep -Eo '^[0-9]+' | tail -n1)
  total=${total:-0}; fails=${fails:-0}
  passed=$((passed + total - fails)); failed=$((failed + fails))
}
filter=(); [ -n "${KAV_TEST_FILTER:-}" ] && filter=(-R "$KAV_TEST_FILTER")

# Which Windows build the Win32 and end-to-end tests run (decided once).
source "$ROOT/scripts/wine-env.sh"
kav_choose_windows_build || { echo "0 passed, 1 failed"; exit 1; }
[ "$KAV_WIN_BUILD" = win32 ] && export KAV_WIN32_TESTS=1

if ! bash "$ROOT/scripts/build.sh"; then
  echo "build failed"
  echo "0 passed, 1 failed"
  exit 1
fi

echo "== native tests"
(cd "$B/native" && ctest --output-on-failure "${filter[@]}") 2>&1 | tee "$B/native-ctest.log"
count_ctest "$B/native-ctest.log"

echo "== fuzz targets (libFuzzer, a bounded number of inputs each)"
if bash "$ROOT/scripts/build.sh" fuzz; then
  (cd "$B/fuzz" && ctest --output-on-failure "${filter[@]}") 2>&1 | tee "$B/fuzz-ctest.log"
  count_ctest "$B/fuzz-ctest.log"
else
  echo "fuzz build failed"; failed=$((failed + 1))
fi

echo "== Win32 and end-to-end tests under Wine ($KAV_WIN_BUILD build)"
rm -rf "$B/wine"
mkdir -p "$B/wine"
trap 'kav_wine_stop' EXIT
if ! kav_wine_begin "$B/wine/prefix" "$B"; then
  kav_windows_build_line
  echo "$passed passed, $((failed + 1)) failed"
  exit 1
fi
(cd "$B/$KAV_WIN_BUILD" && ctest --output-on-failure "${filter[@]}") 2>&1 | tee "$B/$KAV_WIN_BUILD-ctest.log"
count_ctest "$B/$KAV_WIN_BUILD-ctest.log"
kav_wine_stop
trap - EXIT

kav_windows_build_line
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
