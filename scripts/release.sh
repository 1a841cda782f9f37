#!/usr/bin/env bash
# Builds the release packages from this checkout into $KAV_BUILD_DIR/release
# (default build/release):
#
#   KAV90R_HotKeyController-<version>-setup.exe     Windows installer (NSIS)
#   KAV90R_HotKeyController-<version>-portable.zip  the program and the user guide
#   SHA256SUMS
#   check/KAV90R_HotKeyController-<version>-x64-setup.exe
#   check/KAV90R_HotKeyController.exe               for the install check only
#
# <version> is the FileVersion of the program's version resource, read from the
# built executable (installer/tools/verinfo.py), so it is written in one place.
#
#   scripts/release.sh             builds (scripts/build.sh win32 win64), then packages
#   scripts/release.sh --no-build  packages the builds already in the build folder
#
# Which executable goes where (32 or 64 bit):
# The program is shipped as the 32-bit build (build/win32), in a 32-bit
# installer (NSIS x86-unicode stub, Program Files (x86) on 64-bit Windows),
# because that build runs on every supported Windows. The silent install
# check (tests/release/check-install.sh) installs that very installer in a
# 32-bit Wine prefix where the machine runs 32-bit code. Some build machines
# run 64-bit code only: a 32-bit installer there fails at once under wine64
# ("starting in experimental wow64 mode", no syswow64\ntdll.dll), whatever it
# installs. For them the check runs a second installer made from the same
# script with NSIS's amd64-unicode stub (`Target amd64-unicode`, /DKAV_TARGET_AMD64)
# around the 64-bit build of the same sources; only the stub, the Program
# Files root and the registry view differ. That installer goes to check/ and
# is not a release package. The shipped 32-bit installer is also verified
# here without running it: its machine type, its version resource, and the
# files packed in it (listed with 7z), whose program must be the 32-bit build
# byte for byte.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
B="${KAV_BUILD_DIR:-$ROOT/build}"
OUT="$B/release"
PY=/usr/bin/python3   # Debian's, which has python3-markdown
APP=KAV90R_HotKeyController

build=1
for a in "$@"; do
  case "$a" in
    --no-build) build=0 ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "release: unknown option $a" >&2; exit 2 ;;
  esac
done

die() { echo "release: FAIL: $*" >&2; exit 1; }
for tool in makensis zip 7z x86_64-w64-mingw32-strip "$PY"; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/setup.sh installs it)"
done

if [ "$build" -eq 1 ]; then
  KAV_BUILD_DIR="$B" bash "$ROOT/scripts/build.sh" win32 win64
fi

EXE32="$B/win32/$APP.exe"
EXE64="$B/win64/$APP.exe"
[ -f "$EXE32" ] || die "$EXE32 not built"
[ -f "$EXE64" ] || die "$EXE64 not built"

# value KEY FILE: one value of the executable's version resource
verinfo() { "$PY" "$ROOT/installer/tools/verinfo.py" "$1"; }
info32="$(verinfo "$EXE32")" || die "no version resource in $EXE32"
info64="$(verinfo "$EXE64")" || die "no version resource in $EXE64"
value() { printf '%s\n' "$2" | sed -n "s/^$1=//p" | head -n1; }

[ "$(value Machine "$info32")" = i386 ] || die "$EXE32 is not a 32-bit (i386) program"
[ "$(value Machine "$info64")" = x86-64 ] || die "$EXE64 is not a 64-bit (x86-64) program"
VERSION="$(value FileVersion "$info32")"
[[ "$VERSION" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "FileVersion '$VERSION' is not four numbers"
[ "$(value FixedFileVersion "$info32")" = "$VERSION" ] \
  || die "fixed file version $(value FixedFileVersion "$info32") differs from FileVersion $VERSION"
[ "$(value FileVersion "$info64")" = "$VERSION" ] || die "the 64-bit build has another version"
PUBLISHER="$(value CompanyName "$info32")"
[ -n "$PUBLISHER" ] || PUBLISHER="KOVA"
COPYRIGHT="$(value LegalCopyright "$info32")"
[ -n "$COPYRIGHT" ] || COPYRIGHT="$PUBLISHER"
echo "release: version $VERSION, publisher $PUBLISHER"

rm -rf "$OUT"
mkdir -p "$OUT/check" "$OUT/stage/doc"

# The user guide as a web page, with its screenshots.
"$PY" "$ROOT/docs/tools/guide_html.py" "$ROOT/docs/UserGuide.md" "$OUT/stage/doc/UserGuide.html" "$VERSION"
if [ -d "$ROOT/docs/images" ]; then
  cp -r "$ROOT/docs/images" "$OUT/stage/doc/images"
fi

# Time stamps of packed files: the commit's, so packages of one commit match.
STAMP="$(TZ=UTC git -C "$ROOT" log -1 --format=%cd --date=format-local:%Y%m%d%H%M.%S 2>/dev/null || TZ=UTC date +%Y%m%d%H%M.%S)"

# Portable zip: one folder with the program and the guide, as installed.
P="$OUT/stage/$APP-$VERSION"
mkdir -p "$P"
cp "$EXE32" "$P/$APP.exe"
cp -r "$OUT/stage/doc" "$P/doc"
find "$P" -exec env TZ=UTC touch -t "$STAMP" {} +
ZIP="$OUT/$APP-$VERSION-portable.zip"
(cd "$OUT/stage" && find "$APP-$VERSION" -print | LC_ALL=C sort | TZ=UTC zip -q -X -D "$ZIP" -@)

nsis() { # nsis EXE OUTFILE [extra makensis options]
  local exe="$1" outfile="$2"; shift 2
  local icon=()
  [ -f "$ROOT/resources/icons/$APP.ico" ] && icon=("-DKAV_ICON=$ROOT/resources/icons/$APP.ico")
  makensis -V2 -WX -INPUTCHARSET UTF8 \
    "-DKAV_VERSION=$VERSION" "-DKAV_PUBLISHER=$PUBLISHER" "-DKAV_COPYRIGHT=$COPYRIGHT" \
    "-DKAV_EXE=$exe" "-DKAV_DOC_DIR=$OUT/stage/doc" "-DKAV_OUTFILE=$outfile" \
    "${icon[@]}" "$@" "$ROOT/installer/$APP.nsi"
}
SETUP="$OUT/$APP-$VERSION-setup.exe"
CHECK_SETUP="$OUT/check/$APP-$VERSION-x64-setup.exe"
nsis "$EXE32" "$SETUP"
# The 64-bit build carries debug information; the check installs it without,
# as a shipped program would be.
CHECK_EXE="$OUT/check/$APP.exe"
x86_64-w64-mingw32-strip --strip-debug -o "$CHECK_EXE" "$EXE64"
nsis "$CHECK_EXE" "$CHECK_SETUP" -DKAV_TARGET_AMD64

# --- Verify what is shipped -------------------------------------------------
setup_info="$(verinfo "$SETUP")" || die "no version resource in the installer"
[ "$(value Machine "$setup_info")" = i386 ] || die "the installer is not a 32-bit program"
[ "$(value FileVersion "$setup_info")" = "$VERSION" ] || die "the installer carries another version"
[ "$(value Machine "$(verinfo "$CHECK_SETUP")")" = x86-64 ] || die "the check installer is not 64-bit"

unpacked="$OUT/stage/unpacked"
mkdir -p "$unpacked"
7z x -y -o"$unpacked" "$SETUP" >/dev/null || die "7z cannot read $SETUP"
cmp -s "$unpacked/$APP.exe" "$EXE32" || die "the installer does not hold the 32-bit build"
cmp -s "$unpacked/doc/UserGuide.html" "$OUT/stage/doc/UserGuide.html" || die "the installer lacks the guide"
[ -f "$unpacked/uninstall.exe" ] || [ -n "$(find "$unpacked" -iname 'uninst*' -print -quit)" ] \
  || die "the installer holds no uninstaller"

listing="$(unzip -Z1 "$ZIP")"
for f in "$APP-$VERSION/$APP.exe" "$APP-$VERSION/doc/UserGuide.html"; do
  grep -qxF "$f" <<<"$listing" || die "$f missing from the zip"
done
unzip -p "$ZIP" "$APP-$VERSION/$APP.exe" | cmp -s - "$EXE32" || die "the zip does not hold the 32-bit build"
for img in $(grep -o 'images/[A-Za-z0-9_.-]*\.png' "$ROOT/docs/UserGuide.md" | sort -u); do
  grep -qxF "$APP-$VERSION/doc/$img" <<<"$listing" || die "$img missing from the zip"
  cmp -s "$unpacked/doc/$img" "$ROOT/docs/$img" || die "$img missing from the installer"
done

rm -rf "$OUT/stage"
(cd "$OUT" && sha256sum "$(basename "$SETUP")" "$(basename "$ZIP")" > SHA256SUMS)
echo "release: packages in $OUT"
ls -l "$SETUP" "$ZIP" "$CHECK_SETUP"
echo "release: ok"
