#!/usr/bin/env bash
# The scripts: every shell script parses, and the start of a run under Wine
# (scripts/wine-env.sh: choose the build, make the prefix, keep a wineserver,
# confirm the build with its probe) takes the same steps for the 32-bit
# program as for its 64-bit twin. Stub loaders and a stub wineserver play
# Wine and record every call, so the 32-bit branch runs on any kernel; the
# stub wineserver refuses "-p" (exit code 2) while a server runs, as Wine's does.
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
T="$(mktemp -d /tmp/kav-wine-env-test.XXXXXX)"
trap 'rm -rf "$T"' EXIT
failed=0
check() { eval "$1" || { echo "FAIL: $2"; failed=1; }; }

for f in $(cd "$ROOT" && git ls-files '*.sh'); do check "bash -n '$ROOT/$f'" "bash -n $f"; done

mkdir -p "$T/bin" "$T/build/win32/tools/win/probe" "$T/build/win64/tools/win/probe"
touch "$T/build/win32/tools/win/probe/kav_probe.exe" "$T/build/win64/tools/win/probe/kav_probe.exe"
cat >"$T/bin/wineserver" <<'EOF'
#!/usr/bin/env bash
echo "wineserver $*" >>"$KAV_STUB_LOG"; s="$WINEPREFIX.server"
case "$1" in
  -p) [ -e "$s" ] && exit 2; echo persistent >"$s" ;;
  -k) rm -f "$s" ;;
  -w) grep -q persistent "$s" 2>/dev/null && exit 124; rm -f "$s" ;; # a kept server: only the time-out ends the wait
esac
EOF
cat >"$T/wine" <<'EOF'
#!/usr/bin/env bash
echo "wine ${*//$KAV_STUB_ROOT/}" >>"$KAV_STUB_LOG"
[ "$1" = --version ] && { echo wine-8.0; exit 0; }
[ -e "$WINEPREFIX.server" ] || echo transient >"$WINEPREFIX.server" # a program leaves its server running
case "$1" in
  wineboot) mkdir -p "$WINEPREFIX/drive_c/windows" ;;
  *kav_probe.exe) [ -z "${KAV_STUB_PROBE_FAILS:-}" ] && echo '{"windows":[]}' ;;
esac
EOF
printf '\x7fELF\x01\x01\x01' >"$T/refused" # a 32-bit loader this kernel refuses
chmod +x "$T/bin/wineserver" "$T/wine" "$T/refused"

# run NAME WINE32 [ENV...]: the start of a test run under `set -e`, as
# scripts/test.sh does it; the calls go to $T/NAME.log, the build chosen to $T/NAME.out.
run() {
  local name="$1" wine32="$2"; shift 2
  (
    set -euo pipefail
    unset KAV_WIN_BUILD KAV_WINE KAV_WINEARCH WINEPREFIX
    export "$@" PATH="$T/bin:$PATH" KAV_USE_DISPLAY=1 DISPLAY=:99 KAV_STUB_LOG="$T/$name.log" KAV_STUB_ROOT="$T/$name/"
    source "$ROOT/scripts/wine-env.sh"
    kav_find_wine32() { echo "$wine32"; }
    kav_find_wine64() { echo "$T/wine"; }
    export KAV_WINE_FONT_DIR="$T/no-fonts"
    kav_choose_windows_build
    kav_wine_begin "$T/$name/prefix" "$T/build" 2>/dev/null
    kav_wineserver_keep # finds our own server running: no harm done
    echo "$KAV_WIN_BUILD"
    kav_wine_stop
  ) >"$T/$name.out" 2>"$T/$name.err"
}
steps() { sed "s|$T/build/win[36][24]|BUILD|; /--version/d; s/win32\|win64/ARCH/g" "$T/$1.log"; }

run i686 "$T/wine" # (each run on its own line: inside && or || bash would ignore `set -e`)
check '[ "$(cat "$T/i686.out")" = win32 ]' "a 32-bit loader that starts chooses win32: $(cat "$T/i686.err")"
run x86_64 "$T/refused"
check '[ "$(cat "$T/x86_64.out")" = win64 ]' "a refused 32-bit loader chooses win64: $(cat "$T/x86_64.err")"
check 'grep -q "^wineserver -p$" "$T/i686.log" && grep -q "kav_probe.exe list" "$T/i686.log"' "the run keeps a server and runs the probe"
diff <(steps i686) <(steps x86_64) >"$T/diff"
check '[ ! -s "$T/diff" ]' "the two branches take different steps: $(cat "$T/diff")"
# A 32-bit build whose probe does not run falls back to the twin, which is confirmed the same way.
run fallback "$T/wine" KAV_STUB_PROBE_FAILS=1
check '[ ! -s "$T/fallback.out" ] && [ "$(grep -c "kav_probe.exe list" "$T/fallback.log")" = 2 ]' "the fallback confirms the twin"
# Forcing the 32-bit build where the kernel refuses it stops at once, in one line, starting nothing.
run forced "$T/refused" KAV_WIN_BUILD=win32
check '[ "$(wc -l <"$T/forced.err")" = 1 ] && grep -q "^KAV_WIN_BUILD=win32, but this machine cannot run" "$T/forced.err"' \
  "one line for a forced 32-bit build: $(cat "$T/forced.err")"
check '[ ! -s "$T/forced.out" ] && [ ! -e "$T/forced.log" ]' "a forced build that cannot run starts nothing"
[ "$failed" = 0 ] && echo "wine-env: the 32-bit and 64-bit branches take the same steps"
exit "$failed"
