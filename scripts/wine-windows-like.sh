#!/usr/bin/env bash
# Gives a Wine prefix the text metrics of a Japanese Windows screen. Every
# prefix that the tests, the demo, the install check and the screenshot
# script make goes through here, once, right after `wineboot -i`:
#
#   WINEPREFIX=... scripts/wine-windows-like.sh LOADER [DPI]
#
# LOADER is the Wine loader of the prefix's architecture (wine64 or wine);
# the prefix's wineserver may be running. DPI (e.g. 144) sets Wine's
# LogPixels, the screen's dots per inch, for a prefix that shows the
# program at another scale.
#
# * Wine's own Tahoma and Marlett (package fonts-wine): Debian's Wine looks
#   for its fonts somewhere else than where that package puts them, so the
#   prefix's Fonts folder gets links to them. Without Tahoma the program's
#   text falls back to a CJK font; without Marlett the caption buttons show
#   letters ("r" for the close box).
# * The Japanese Windows UI fonts map to free fonts drawn to their widths:
#   "MS UI Gothic" to Ume UI Gothic (fonts-horai-umefont), whose kana are as
#   narrow as the UI font's; "MS PGothic" to IPAPGothic and "MS Gothic" to
#   IPAGothic (fonts-ipafont-gothic). Tahoma's Japanese characters come from
#   "MS UI Gothic", as on Windows; with IPAPGothic in its place the status
#   window's longest caption is drawn wider than its column.
set -euo pipefail
loader="${1:?usage: WINEPREFIX=... wine-windows-like.sh LOADER [DPI]}"
dpi="${2:-}"
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"

font_src="${KAV_WINE_FONT_DIR:-/usr/share/wine/fonts}"
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
linked=0
for f in "$font_src"/*.ttf; do
  [ -e "$f" ] || continue
  ln -sfn "$f" "$fonts/$(basename "$f")"
  linked=$((linked + 1))
done
[ "$linked" -gt 0 ] || echo "wine-windows-like: no fonts in $font_src (install fonts-wine)" >&2

reg="$WINEPREFIX/kav-windows-like.reg"
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  printf '"MS UI Gothic"="Ume UI Gothic"\r\n"MS PGothic"="IPAPGothic"\r\n"MS Gothic"="IPAGothic"\r\n'
  if [ -n "$dpi" ]; then
    # Wine reads the user's value; Windows programs that look at the
    # machine's font settings find the same number there.
    hex="$(printf '%08x' "$dpi")"
    printf '\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"LogPixels"=dword:%s\r\n' "$hex"
    printf '\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]\r\n'
    printf '"LogPixels"=dword:%s\r\n' "$hex"
  fi
} > "$reg"
# Drive Z: is the Linux root in every prefix.
"$loader" reg import "Z:$reg" >/dev/null 2>&1 || {
  echo "wine-windows-like: reg import failed in $WINEPREFIX" >&2
  exit 1
}
rm -f "$reg"
