#!/usr/bin/env bash
# The scripts themselves: every shell script parses, and the start of a run
# under Wine (scripts/wine-env.sh: choosing the build, making the prefix,
# confirming the build with its probe, keeping one wineserver) takes the
# same steps for the 32-bit program as for its 64-bit twin. Wine is played
# by stub loaders and a stub wineserver that record every call, so the
# 32-bit branch runs here even where the kernel refuses 32-bit code. The
# stub wineserver answers "-p" with exit code 2 while a server still runs,
# as the real one does.
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
T="$(mktemp -d /tmp/kav-wine-env-test.XXXXXX)"
trap 'rm -rf "$T"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# -- every script parses --------------------------------------------------
while IFS= read -r f; do
  bash -n "$f" 2>"$T/syntax" || fail "bash -n $f: $(cat "$T/syntax")"
done < <(cd "$ROOT" && git ls-files '*.sh' | sed "s|^|$ROOT/|")

# -- stubs ----------------------------------------------------------------
mkdir -p "$T/bin" "$T/build/win32/tools/win/probe" "$T/build/win64/tools/win/probe"
touch "$T/build/win32/tools/win/probe/kav_probe.exe" "$T/build/win64/tools/win/probe/kav_probe.exe"
cat >"$T/bin/wineserver" <<'EOF'
#!/usr/bin/env bash
# Records the call; a server "runs" while $WINEPREFIX.server exists.
echo "wineserver $*" >>"$KAV_STUB_LOG"
s="$WINEPREFIX.server"
case "$1" in
  -p) [ -e "$s" ] && exit 2; echo persistent >"$s" ;;
  -k) rm -f "$s" ;;
  -w) grep -q persistent "$s" 2>/dev/null && exit 124; rm -f "$s" ;; # waits forever: the time-out ends it
esac
exit 0
EOF
cat >"$T/loader" <<'EOF'
#!/usr/bin/env bash
# A Wine loader: every program it runs leaves a server running behind it.
echo "wine ${*//$KAV_STUB_ROOT/}" >>"$KAV_STUB_LOG"
[ "$1" = --version ] && { echo wine-8.0; exit 0; }
[ -e "$WINEPREFIX.server" ] || echo transient >"$WINEPREFIX.server"
case "$1" in
  wineboot) mkdir -p "$WINEPREFIX/drive_c/windows" ;;
  *kav_probe.exe) [ -n "${KAV_STUB_PROBE_FAILS:-}" ] && exit 1; echo '{"windows":[]}' ;;
esac
exit 0
EOF
chmod +x "$T/bin/wineserver" "$T/loader"
cp "$T/loader" "$T/wine32"; cp "$T/loader" "$T/wine64"
printf "\x7fELF\x01\x01\x01" >"$T/wine32-refused"; chmod +x "$T/wine32-refused" # a program this kernel refuses

# run BRANCH WINE32 [ENV...]: the start of a test run, as scripts/test.sh
# does it, under `set -e`; records the calls in $T/BRANCH.log and prints
# the build chosen.
run() {
  local branch="$1" wine32="$2"; shift 2
  (
    set -euo pipefail
    unset KAV_WIN_BUILD KAV_WINE KAV_WINEARCH WINEPREFIX
    export "$@" PATH="$T/bin:$PATH" KAV_USE_DISPLAY=1 DISPLAY=:99 KAV_STUB_LOG="$T/$branch.log" KAV_STUB_ROOT="$T/"
    source "$ROOT/scripts/wine-env.sh"
    kav_find_wine32() { echo "$wine32"; }
    kav_find_wine64() { echo "$T/wine64"; }
    KAV_WINE_FONT_DIR="$T/no-fonts" kav_choose_windows_build
    KAV_WINE_FONT_DIR="$T/no-fonts" kav_wine_begin "$T/$branch/prefix" "$T/build" 2>/dev/null
    kav_wineserver_keep # finds our own server running: no harm done
    echo "$KAV_WIN_BUILD"
    kav_wine_stop
  ) >"$T/$branch.out" 2>"$T/$branch.err"
}
normalised() { sed -e 's/i686\/\|x86_64\///g; s/wine32-refused/wineX/; s/wine32\|wine64/wineX/; s/win32\|win64/winX/g' "$T/$1.log"; }

# (Called on their own: inside a && or || list bash would ignore `set -e`.)
run i686 "$T/wine32"; rc=$?
[ "$rc" = 0 ] || fail "the 32-bit branch ended early: $(cat "$T/i686.err")"
run x86_64 "$T/wine32-refused"; rc=$?
[ "$rc" = 0 ] || fail "the 64-bit branch ended early: $(cat "$T/x86_64.err")"
[ "$(cat "$T/i686.out")" = win32 ] || fail "a 32-bit loader that starts chooses win32, not '$(cat "$T/i686.out")'"
[ "$(cat "$T/x86_64.out")" = win64 ] || fail "a refused 32-bit loader chooses win64, not '$(cat "$T/x86_64.out")'"
grep -q 'probe/kav_probe.exe list' "$T/i686.log" || fail "the 32-bit branch runs its probe"
grep -q '^wineserver -p$' "$T/i686.log" || fail "the 32-bit branch keeps a wineserver"
# The 32-bit branch asks its loader for a version once more: that is the choice itself.
diff <(normalised i686 | grep -v -- '--version') <(normalised x86_64 | grep -v -- '--version') >"$T/diff" ||
  fail "the two branches take different steps:"$'\n'"$(cat "$T/diff")"

# A 32-bit build that starts but whose probe does not run falls back to the
# twin, which is then confirmed the same way.
run fallback "$T/wine32" KAV_STUB_PROBE_FAILS=1; rc=$?
[ "$rc" != 0 ] || fail "a probe that never runs is not a success"
[ "$(grep -c 'kav_probe.exe list' "$T/fallback.log")" = 2 ] || fail "after the fallback the twin's probe runs too"

# Forcing the 32-bit build where the kernel refuses it fails at once, in one line.
run forced "$T/wine32-refused" KAV_WIN_BUILD=win32; rc=$?
[ "$rc" != 0 ] || fail "KAV_WIN_BUILD=win32 on a 64-bit-only machine fails"
[ "$(wc -l <"$T/forced.err")" = 1 ] && grep -q 'KAV_WIN_BUILD=win32, but this machine cannot run 32-bit programs' "$T/forced.err" ||
  fail "one clear line for a forced 32-bit build that cannot run, not: $(cat "$T/forced.err")"
[ ! -e "$T/forced.log" ] || fail "a forced build that cannot run starts nothing: $(cat "$T/forced.log")"

if [ "$failed" = 0 ]; then echo "wine-env: the 32-bit and 64-bit branches take the same steps"; fi
exit "$failed"
