#!/usr/bin/env bash
# Runs the program as a person would: the tray program under Wine in a
# desktop with a taskbar, talking on COM5 to the switcher simulator.
#
#   scripts/run.sh                  until the program is ended (tray menu
#                                   "終了(&X)") or Ctrl+C
#   scripts/run.sh --duration 20    for 20 seconds, then stop everything
#   options: --no-build  --com N (default 5)  --fresh (forget the settings)
#
# With $DISPLAY set the desktop opens as a window on that display; without
# one it runs on a private Xvfb display and a screenshot is saved (its path
# is printed). Hot keys: Ctrl+M power, Ctrl+B blackout, F1..F8 inputs 1..8.
# It runs the shipped 32-bit program where this machine starts 32-bit
# Windows programs and the 64-bit twin otherwise (KAV_WIN_BUILD=win32|win64
# forces one), on a Windows-like screen (Tahoma, Marlett, Japanese fonts of
# Windows' widths). The settings, the log files and the frames the
# simulator received stay in <build>/run/ between runs. Everything started
# here is stopped on exit.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
B="${KAV_BUILD_DIR:-$ROOT/build}"

duration=""; build=1; com=5; fresh=0
while [ $# -gt 0 ]; do
  case "$1" in
    --duration) duration="$2"; shift 2 ;;
    --no-build) build=0; shift ;;
    --com) com="$2"; shift 2 ;;
    --fresh) fresh=1; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

# A fresh machine gets its packages and locale first (quick when present).
[ "$build" = 1 ] && [ -z "${KAV_SKIP_SETUP:-}" ] && bash "$ROOT/scripts/setup.sh"
for v in $(env | grep -o '^WINE[A-Z_]*' || true); do unset "$v"; done
source "$ROOT/scripts/wine-env.sh"
kav_choose_windows_build

SIM="$B/native/tools/simulator/av90r_sim"
RUN="$B/run"
# The program and probe of a build (built first unless --no-build); the
# Wine start below runs it again for the 64-bit twin if the 32-bit program
# turns out not to start here.
kav_prepare_build() {
  EXE="$B/$1/KAV90R_HotKeyController.exe"
  PROBE="$B/$1/tools/win/probe/kav_probe.exe"
  if [ "$build" = 1 ]; then bash "$ROOT/scripts/build.sh" native "$1"; fi
  for f in "$EXE" "$SIM" "$PROBE"; do
    [ -e "$f" ] || { echo "not built: $f (run without --no-build)" >&2; return 1; }
  done
}
kav_prepare_build "$KAV_WIN_BUILD"
mkdir -p "$RUN"
[ "$fresh" = 1 ] && rm -rf "$RUN/prefix-win32" "$RUN/prefix-win64"
export WINEDEBUG="${KAV_WINEDEBUG:--all}"

SIM_PID=""; PROG_PID=""; EXPLORER_PID=""
cleanup() {
  trap - EXIT INT TERM
  set +e
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  kav_wine_stop
  if [ -s "$RUN/simulator.log" ]; then
    echo "frames the switcher received: $(python3 -c 'import json,sys; print(" ".join(json.loads(l)["frame"] for l in open(sys.argv[1]) if l.strip()))' "$RUN/simulator.log")"
  fi
  echo "stopped"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The desktop named "shell" has the taskbar and notification area; every
# program of the prefix joins it. It is made before any other program runs.
kav_prepare_desktop() {
  if [ ! -f "$WINEPREFIX/.kav-desktop" ]; then
    "$KAV_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
    "$KAV_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
    touch "$WINEPREFIX/.kav-desktop"
  fi
  "$KAV_WINE" explorer /desktop=shell,1024x768 >/dev/null 2>&1 &
  EXPLORER_PID=$!
  sleep 1.5
}
# A window on the person's display when there is one, else a private Xvfb.
headless=1
if [ -n "${DISPLAY:-}" ]; then headless=0; export KAV_USE_DISPLAY=1; else unset KAV_USE_DISPLAY; fi
# The same start for both builds: prefix (kept in <build>/run between runs),
# one wineserver kept for the run, the desktop, the build confirmed by its probe.
kav_wine_begin "$RUN/prefix" "$B" || exit 1
PREFIX="$WINEPREFIX"
WINE="$KAV_WINE"
echo "display $DISPLAY$([ "$headless" = 1 ] && echo ' (Xvfb)'), prefix $PREFIX"
echo "program: $EXE ($KAV_WIN_BUILD_WHY)"
probe() { timeout 20 "$WINE" "$PROBE" "$@" 2>/dev/null; }
for i in $(seq 1 120); do
  probe tray | grep -q '"tray"' && break
  [ "$i" = 120 ] && { echo "the Wine desktop did not come up" >&2; exit 1; }
  sleep 0.5
done

# The COM link is made once the desktop is up: Wine maps the host's serial
# devices to com1... when its services start.
rm -f "$RUN/simulator.log" "$RUN/simulator.out"
"$SIM" --link "$PREFIX/dosdevices/com$com" --log "$RUN/simulator.log" --power 1 --input 1 >"$RUN/simulator.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 1 100); do grep -q '^READY' "$RUN/simulator.out" && break; sleep 0.1; done
grep -q '^READY' "$RUN/simulator.out" || { echo "the simulator did not start" >&2; cat "$RUN/simulator.out" >&2; exit 1; }
echo "switcher simulator on COM$com: $(head -n1 "$RUN/simulator.out")"

DATA="$PREFIX/drive_c/ProgramData/KOVA/KAV90R_HotKeyController"
INI="$DATA/KAV90R_HotKeyController.ini"
if [ ! -f "$INI" ]; then
  # As the settings dialog would leave it after choosing the port.
  mkdir -p "$DATA"
  python3 - "$INI" "$com" <<'EOF'
import sys
path, com = sys.argv[1], sys.argv[2]
lines = ["[System]", "LogKeepDay=30", "[HotKey]", "ComPort=COM" + com, "PowerUpOnAppStart=0",
         "PowerDownOffAppStart=0", "HotKeyEnableOnAppStart=1", "PowerUpOnHotKeyCtrl=1", "WindowVisible=1"]
values = [0x24D, 0x242] + list(range(0x70, 0x78))
funcs = ["電源制御", "ブラックアウト"] + ["入力%d" % n for n in range(1, 9)]
for i, (v, f) in enumerate(zip(values, funcs)):
    lines += ["[HotKey%d]" % i, "HotKeyDefault=%d" % v, "HotKey=%d" % v, "HotKeyFunc=" + f]
open(path, "wb").write(("\r\n".join(lines) + "\r\n").encode("cp932"))
EOF
fi

started=$(date +%s)
"$WINE" "$EXE" >"$RUN/program.out" 2>&1 &
PROG_PID=$!
echo "started $(basename "$EXE")"
for i in $(seq 1 60); do
  probe list --exe KAV90R_HotKeyController.exe | grep -q '"class":"TFormMain"' && break
  kill -0 "$PROG_PID" 2>/dev/null || break
  sleep 0.5
done
# The deferred start-up opens the port one second after the window exists.
for _ in $(seq 1 40); do [ -s "$RUN/simulator.log" ] && break; sleep 0.25; done
sleep 1

if [ "$headless" = 1 ]; then
  shot="$RUN/screenshot-$(date +%Y%m%d-%H%M%S).png"
  import -display "$DISPLAY" -window root "$shot" 2>/dev/null && echo "screenshot: $shot"
fi
echo "log files: $DATA/Log/"
echo "hot keys: Ctrl+M power, Ctrl+B blackout, F1..F8 inputs; exit from the tray menu or with Ctrl+C"

while kill -0 "$PROG_PID" 2>/dev/null; do
  if [ -n "$duration" ] && [ $(( $(date +%s) - started )) -ge "$duration" ]; then
    echo "duration of $duration s reached"
    break
  fi
  sleep 0.5
done
kill -0 "$PROG_PID" 2>/dev/null || echo "the program ended"
