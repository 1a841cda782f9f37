#!/usr/bin/env bash
# CTest's emulator for the Windows build: runs one .exe under 64-bit Wine in
# the prefix and display that scripts/test.sh set up. Run by hand without
# them, it makes a throw-away prefix and Xvfb display of its own.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ -z "${WINEPREFIX:-}" ]; then
  tmp="$(mktemp -d /tmp/kav-wine.XXXXXX)"
  kav_wine_start "$tmp/prefix"
  trap 'kav_wine_stop; rm -rf "$tmp"' EXIT
  "$KAV_WINE" "$@"
  exit $?
fi
exec "$KAV_WINE" "$@"
