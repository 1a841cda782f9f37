#!/usr/bin/env bash
# CTest's emulator for the Windows builds: runs one .exe under Wine in the
# prefix and display that scripts/test.sh set up. Run by hand without them,
# it makes a throw-away prefix (of the executable's architecture) and Xvfb
# display of its own.
#
# KAV_WINE_DPI=N runs the program in a second prefix beside the run's own
# whose screen has N dots per inch (made once, stopped after the program).
set -u
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ -z "${WINEPREFIX:-}" ]; then
  # By hand: the loader that fits the executable.
  [ -z "${KAV_WIN_BUILD:-}" ] && [ -f "${1:-}" ] && kav_wine_use "$(kav_exe_arch "$1")"
  tmp="$(mktemp -d /tmp/kav-wine.XXXXXX)"
  kav_wine_start "$tmp/prefix"
  trap 'kav_wine_stop; rm -rf "$tmp"' EXIT
  "$KAV_WINE" "$@"
  exit $?
fi
if [ -n "${KAV_WINE_DPI:-}" ]; then
  export WINEPREFIX="${WINEPREFIX}-dpi${KAV_WINE_DPI}"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  kav_wine_prefix_make "$WINEPREFIX" || { echo "wine-exec: cannot make $WINEPREFIX" >&2; exit 1; }
  trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1' EXIT
  "$KAV_WINE" "$@"
  exit $?
fi
exec "$KAV_WINE" "$@"
