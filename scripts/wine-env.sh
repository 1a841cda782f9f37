# Sourced by the test, run and check scripts: which Windows build runs under
# Wine here (the shipped 32-bit one where the machine can, the 64-bit twin
# otherwise), a private Wine prefix on a private Xvfb display, and functions
# to start and stop them. Every process started here is stopped by its own
# process id or by `wineserver -k` on our prefix.
#
# Environment shared with everything that runs Windows programs (CTest's
# emulator scripts/wine-exec.sh, the end-to-end harness, the install check):
#   KAV_WIN_BUILD   win32 or win64: the build whose program and tests run
#   KAV_WINEARCH    the prefixes' architecture (win32 or win64)
#   KAV_WINE        the Wine loader for that architecture
# Setting KAV_WIN_BUILD before running a script forces the choice.

KAV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

kav_find_wine64() {
  # The 64-bit loader directly: /usr/bin/wine prefers the 32-bit loader when
  # wine32 is installed.
  if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64
  elif command -v wine64 >/dev/null 2>&1; then command -v wine64
  else command -v wine; fi
}

kav_find_wine32() {
  # Debian's 32-bit loader (package wine32; without it Debian's `wine` runs
  # the 64-bit one); elsewhere `wine` starts 32-bit programs.
  if [ -e /usr/lib/wine/wine ]; then echo /usr/lib/wine/wine
  elif [ -e /usr/lib/wine/wine64 ]; then return 0
  else command -v wine; fi
}

# kav_wine_use ARCH: the loader and prefix architecture for win32 or win64.
kav_wine_use() {
  export KAV_WINEARCH="$1"
  if [ "$1" = win32 ]; then KAV_WINE="$(kav_find_wine32)"; else KAV_WINE="$(kav_find_wine64)"; fi
  export KAV_WINE
}

# kav_exe_arch EXE: win32 or win64, from the executable's PE header.
kav_exe_arch() {
  python3 - "$1" <<'EOF'
import struct, sys
with open(sys.argv[1], "rb") as f:
    data = f.read(4096)
pe = struct.unpack_from("<I", data, 0x3C)[0]
machine = struct.unpack_from("<H", data, pe + 4)[0]
print("win32" if machine == 0x14C else "win64")
EOF
}

# kav_loader_starts LOADER: true when the loader runs here. Prints why not
# otherwise. A kernel that refuses 32-bit code makes exec fail with "Exec
# format error" at once; the answer is asked without a shell in between
# (a shell would retry the file as a script and print nonsense).
kav_loader_starts() {
  python3 - "$1" <<'EOF'
import subprocess, sys
try:
    r = subprocess.run([sys.argv[1], "--version"], capture_output=True, text=True, timeout=20)
except OSError as e:
    sys.exit("%s: %s" % (sys.argv[1], e.strerror))
except subprocess.TimeoutExpired:
    sys.exit("%s gave no answer within 20 s" % sys.argv[1])
if r.returncode != 0 or not r.stdout.startswith("wine"):
    sys.exit("%s --version failed (exit code %d)" % (sys.argv[1], r.returncode))
EOF
}

# kav_choose_windows_build: decides, once per run, which Windows build the
# Win32 and end-to-end tests run; sets KAV_WIN_BUILD, KAV_WINEARCH, KAV_WINE
# and KAV_WIN_BUILD_WHY. The i686 program is chosen when the 32-bit loader
# starts; kav_confirm_windows_build then runs the chosen build's probe in its
# prefix before anything relies on it. A forced 32-bit build on a machine
# whose kernel refuses 32-bit code fails here, with one line.
kav_choose_windows_build() {
  local loader why
  if [ -n "${KAV_WIN_BUILD:-}" ]; then
    case "$KAV_WIN_BUILD" in
      win32|win64) ;;
      *) echo "KAV_WIN_BUILD must be win32 or win64, not '$KAV_WIN_BUILD'" >&2; return 2 ;;
    esac
    KAV_WIN_BUILD_FORCED=1
    KAV_WIN_BUILD_WHY="chosen by KAV_WIN_BUILD=$KAV_WIN_BUILD"
    if [ "$KAV_WIN_BUILD" = win32 ]; then
      loader="$(kav_find_wine32)"
      if [ -z "$loader" ]; then
        echo "KAV_WIN_BUILD=win32, but no 32-bit Wine loader is installed (wine32)" >&2; return 2
      elif ! why="$(kav_loader_starts "$loader" 2>&1)"; then
        echo "KAV_WIN_BUILD=win32, but this machine cannot run 32-bit programs (${why})" >&2; return 2
      fi
    fi
  else
    KAV_WIN_BUILD_FORCED=""
    loader="$(kav_find_wine32)"
    if [ -z "$loader" ]; then
      KAV_WIN_BUILD=win64
      KAV_WIN_BUILD_WHY="no 32-bit Wine loader is installed (wine32)"
    elif why="$(kav_loader_starts "$loader" 2>&1)"; then
      KAV_WIN_BUILD=win32
      KAV_WIN_BUILD_WHY="this machine runs 32-bit Windows programs ($loader starts)"
    else
      KAV_WIN_BUILD=win64
      KAV_WIN_BUILD_WHY="this machine cannot run 32-bit programs (${why})"
    fi
  fi
  export KAV_WIN_BUILD KAV_WIN_BUILD_WHY KAV_WIN_BUILD_FORCED
  kav_wine_use "$KAV_WIN_BUILD"
}

# kav_probe_of BUILD_DIR: the probe of the chosen build.
kav_probe_of() { echo "$1/$KAV_WIN_BUILD/tools/win/probe/kav_probe.exe"; }

# kav_confirm_windows_build BUILD_DIR: with the run's prefix made, checks
# that the chosen build really starts there: its own probe (i686 or x86_64)
# lists windows within a short time. Both builds are checked alike, so Wine
# is in the same state afterwards whichever runs. Returns 0 when it runs;
# 1 when a 32-bit build that was not forced does not, after stopping the
# prefix and switching to the 64-bit twin (the caller starts a win64
# prefix); 2 with one line on standard error when the build cannot run.
kav_confirm_windows_build() {
  local probe; probe="$(kav_probe_of "$1")"
  local name=x86_64; [ "$KAV_WIN_BUILD" = win32 ] && name=i686
  if [ ! -f "$probe" ]; then
    echo "the $name probe is not built: $probe" >&2
    return 2
  fi
  if timeout 120 "$KAV_WINE" "$probe" list 2>/dev/null | grep -q '"windows"'; then
    KAV_WIN_BUILD_WHY="$KAV_WIN_BUILD_WHY; the $name probe runs in a $KAV_WINEARCH prefix"
    return 0
  fi
  if [ "$KAV_WIN_BUILD" = win32 ] && [ -z "${KAV_WIN_BUILD_FORCED:-}" ]; then
    kav_wine_stop
    KAV_WIN_BUILD=win64
    KAV_WIN_BUILD_WHY="the 32-bit Wine loader starts, but the i686 probe does not run in a win32 prefix"
    kav_wine_use win64
    return 1
  fi
  echo "the $name probe does not run in a $KAV_WINEARCH prefix with $KAV_WINE ($KAV_WIN_BUILD_WHY)" >&2
  return 2
}

# kav_wine_begin PREFIX_BASE BUILD_DIR [RESOLUTION]: the start of every run
# of the chosen build under Wine, one path for both builds: a display and the
# prefix PREFIX_BASE-ARCH (kept when it was made before), one wineserver kept
# for the run, the build confirmed by its own probe. Where the 32-bit build
# turns out not to start, the same steps run again for the 64-bit twin;
# callers that build on demand define kav_prepare_build BUILD, which is run
# for the twin before its probe, and callers that want a desktop with a
# taskbar define kav_prepare_desktop, run before the first program of the
# prefix (a program started first would make a desktop without one).
# Returns non-zero (with one line on standard error) when the build cannot run.
kav_wine_begin() {
  local base="$1" build_dir="$2" res="${3:-}" rc=0
  kav_wine_start "$base-$KAV_WINEARCH" $res || return 2
  kav_wineserver_keep
  if declare -F kav_prepare_desktop >/dev/null; then kav_prepare_desktop || return 2; fi
  kav_confirm_windows_build "$build_dir" || rc=$?
  if [ "$rc" -eq 1 ]; then
    echo "$KAV_WIN_BUILD_WHY: the 64-bit twin runs" >&2
    if declare -F kav_prepare_build >/dev/null; then kav_prepare_build "$KAV_WIN_BUILD" || return 2; fi
    kav_wine_start "$base-$KAV_WINEARCH" $res || return 2
    kav_wineserver_keep
    if declare -F kav_prepare_desktop >/dev/null; then kav_prepare_desktop || return 2; fi
    rc=0
    kav_confirm_windows_build "$build_dir" || rc=$?
  fi
  [ "$rc" -eq 0 ] || return 2
}

# kav_windows_build_line: the one line that says which build ran and why.
kav_windows_build_line() {
  if [ "$KAV_WIN_BUILD" = win32 ]; then
    echo "Win32 and end-to-end tests ran on the i686 build (the program that ships): $KAV_WIN_BUILD_WHY"
  else
    echo "Win32 and end-to-end tests ran on the x86_64 build (the 64-bit twin): $KAV_WIN_BUILD_WHY"
  fi
}

if [ -z "${KAV_WINE:-}" ]; then
  kav_wine_use "${KAV_WINEARCH:-win64}"
fi
export KAV_WINEARCH="${KAV_WINEARCH:-win64}"

# kav_wine_prefix_make PREFIX_DIR: makes (or updates) a prefix of KAV_WINEARCH
# with Windows-like fonts; KAV_WINE_DPI, when set, gives it that DPI. Needs a
# display in DISPLAY.
# A prefix made here once is kept as it is (a stamp says so).
kav_wine_prefix_make() {
  local prefix="$1"
  [ -f "$prefix/.kav-prefix" ] && return 0
  mkdir -p "$(dirname "$prefix")"
  WINEPREFIX="$prefix" WINEARCH="$KAV_WINEARCH" "$KAV_WINE" wineboot -i >/dev/null 2>&1
  [ -d "$prefix/drive_c/windows" ] || return 1
  WINEPREFIX="$prefix" bash "$KAV_ROOT/scripts/wine-windows-like.sh" "$KAV_WINE" "${KAV_WINE_DPI:-}" || return 1
  touch "$prefix/.kav-prefix"
}

# kav_wineserver_keep: one wineserver for the prefix in WINEPREFIX, kept for
# the whole run (every Wine start is then cheaper). Not for a run that waits
# for the server to end (the install check's signing out). Call it before
# the first program of the run: a kept server keeps Wine's own service
# processes too, and those must be started from here, not by a program
# whose output a caller reads (CTest would wait for them to close it). A server that the last
# Wine process left running refuses a second one ("already running", exit
# code 2): it ends a few seconds after that process, then ours starts.
# Never fails, whether a server runs or not.
kav_wineserver_keep() {
  wineserver -p >/dev/null 2>&1 && return 0
  timeout 60 wineserver -w >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1 || true
}

# kav_wine_start PREFIX_DIR [RESOLUTION]
kav_wine_start() {
  local prefix="$1" res="${2:-1024x768x24}"
  export WINEPREFIX="$prefix"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEARCH="$KAV_WINEARCH"
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
  if ! kav_wine_prefix_make "$prefix"; then
    echo "wine: could not make the prefix $prefix with $KAV_WINE" >&2
    return 1
  fi
  echo "wine: $KAV_WINEARCH prefix $WINEPREFIX on display $DISPLAY (Xvfb pid ${KAV_XVFB_PID:-none})" >&2
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
