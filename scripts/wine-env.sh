# Sourced by the test and run scripts: a private Wine prefix on a private
# Xvfb display, and functions to start and stop them. Every process started
# here is stopped by its own process id or by `wineserver -k` on our prefix.

KAV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

kav_find_wine() {
  # The 64-bit loader directly: /usr/bin/wine prefers the 32-bit loader when
  # wine32 is installed, and this machine cannot execute 32-bit code.
  if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64
  elif command -v wine64 >/dev/null 2>&1; then command -v wine64
  else command -v wine; fi
}

export KAV_WINE="${KAV_WINE:-$(kav_find_wine)}"

# kav_wine_start PREFIX_DIR [RESOLUTION]
kav_wine_start() {
  local prefix="$1" res="${2:-1024x768x24}"
  export WINEPREFIX="$prefix"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEARCH=win64
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  KAV_XVFB_PID=""
  if [ -z "${KAV_USE_DISPLAY:-}" ]; then
    local fdfile; fdfile="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 "$res" -nolisten tcp -noreset 3>"$fdfile" >/dev/null 2>&1 &
    KAV_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      [ -s "$fdfile" ] && break
      sleep 0.1
    done
    export DISPLAY=":$(head -n1 "$fdfile")"
    rm -f "$fdfile"
  fi
  export KAV_XVFB_PID
  mkdir -p "$(dirname "$prefix")"
  "$KAV_WINE" wineboot -i >/dev/null 2>&1 || true
  # Keep one wineserver for the whole run: every Wine start is then cheaper.
  wineserver -p >/dev/null 2>&1 || true
  echo "wine: prefix $WINEPREFIX on display $DISPLAY (Xvfb pid ${KAV_XVFB_PID:-none})" >&2
}

kav_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$WINEPREFIX" wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "${KAV_XVFB_PID:-}" ]; then
    kill "$KAV_XVFB_PID" 2>/dev/null || true
    wait "$KAV_XVFB_PID" 2>/dev/null || true
    KAV_XVFB_PID=""
  fi
}
