#!/usr/bin/env bash
# Runs the device-link benchmark under Wine against the switcher simulator.
#   tools/win/bench_device/run.sh [RUNS]     (build first: scripts/build.sh native win64)
# Uses its own Wine prefix and Xvfb display and stops everything it started.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../../.." && pwd)"
B="${KAV_BUILD_DIR:-$ROOT/build}"
RUNS="${1:-200}"
SIM="$B/native/tools/simulator/av90r_sim"
BENCH="$B/win64/tools/win/bench_device/bench_device.exe"
[ -x "$SIM" ] && [ -f "$BENCH" ] || { echo "build first: scripts/build.sh native win64" >&2; exit 2; }

source "$ROOT/scripts/wine-env.sh"
WORK="$(mktemp -d /tmp/kav-bench.XXXXXX)"
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
  kav_wine_stop
  rm -rf "$WORK"
}
trap cleanup EXIT
kav_wine_start "$WORK/prefix"

"$SIM" --link "$WINEPREFIX/dosdevices/com35" --power 1 >"$WORK/sim.out" &
SIM_PID=$!
for _ in $(seq 1 100); do [ -s "$WORK/sim.out" ] && break; sleep 0.05; done
read -r _ _ CONTROL <"$WORK/sim.out"
"$KAV_WINE" "$BENCH" COM35 "$CONTROL" "$RUNS" 2> >(grep -v fixme >&2)
