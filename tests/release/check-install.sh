#!/usr/bin/env bash
# Install check: installs the Windows installer silently under Wine in a
# throw-away prefix on a private Xvfb display, then looks at what a person
# would get: the files, the shortcuts, the registry values; starts the
# installed program the two ways a person does (signing in, which runs the
# Startup shortcut, and the Start-menu shortcut) against the switcher
# simulator and sees it come up; upgrades silently with /INI= while it runs;
# uninstalls silently in place while it runs and finds everything gone but
# the data folder; and finally installs without the Startup shortcut and
# uninstalls with /REMOVEDATA, which removes the data folder too. The Startup
# shortcut belongs in the all-users Startup folder; one that an earlier
# version left in the person's own Startup folder goes at install and at
# uninstall.
#
#   tests/release/check-install.sh [INSTALLER.exe]
#
# Default installer, both made by scripts/release.sh: where this machine runs
# 32-bit Windows programs (KAV_WIN_BUILD=win32, as scripts/test.sh decides),
# the shipped one, $KAV_BUILD_DIR/release/*-setup.exe, in a 32-bit prefix,
# whose program must be the 32-bit build; elsewhere its 64-bit twin
# release/check/*-x64-setup.exe (see the comment at the top of
# scripts/release.sh), whose program must equal release/check/KAV90R_HotKeyController.exe
# (the 64-bit build without debug information). KAV_CHECK_EXE overrides the
# program to expect; an installer given by name is run in a prefix of its
# own architecture. Needs the simulator of the native build.
# Prints PASS/FAIL per check and "install check: N passed, M failed"; exits
# non-zero on any failure. Stops everything it started: the simulator by its
# process id, Wine with `wineserver -k` on its own prefix, Xvfb by its id.
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
B="${KAV_BUILD_DIR:-$ROOT/build}"
APP=KAV90R_HotKeyController
PRODUCT="KTX-AV90R制御ソフト"
PY=/usr/bin/python3
WORK="$B/release-check"
PORT_NUM=7            # the host's serial ports take the low numbers in Wine
SIM="$B/native/tools/simulator/av90r_sim"

# --- Which installer: the shipped 32-bit one where 32-bit programs run ------
source "$ROOT/scripts/wine-env.sh"
INSTALLER="${1:-}"
if [ -n "$INSTALLER" ] && [ -f "$INSTALLER" ]; then
  KAV_WIN_BUILD="$(kav_exe_arch "$INSTALLER")"
fi
if [ -z "${KAV_WIN_BUILD:-}" ]; then
  kav_choose_windows_build
else
  kav_wine_use "$KAV_WIN_BUILD"
fi
if [ "$KAV_WIN_BUILD" = win32 ]; then
  [ -n "$INSTALLER" ] || INSTALLER="$(ls "$B"/release/"$APP"-*-setup.exe 2>/dev/null | head -n1)"
  EXPECT_EXE="${KAV_CHECK_EXE:-$B/win32/$APP.exe}"
else
  [ -n "$INSTALLER" ] || INSTALLER="$(ls "$B"/release/check/*-x64-setup.exe 2>/dev/null | head -n1)"
  EXPECT_EXE="${KAV_CHECK_EXE:-$B/release/check/$APP.exe}"
fi
for f in "$INSTALLER" "$SIM" "$EXPECT_EXE"; do
  if [ ! -f "$f" ]; then
    echo "install check: missing ${f:-installer} (run scripts/release.sh and build native first)"
    echo "install check: 0 passed, 1 failed"
    exit 1
  fi
done
INSTALLER="$(cd "$(dirname "$INSTALLER")" && pwd)/$(basename "$INSTALLER")"
VERSION="$("$PY" "$ROOT/installer/tools/verinfo.py" "$INSTALLER" | sed -n 's/^FileVersion=//p')"

passed=0; failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() { # check DESCRIPTION COMMAND...
  local d="$1"; shift
  if "$@"; then pass "$d"; else fail "$d"; fi
}
check_not() { # check_not DESCRIPTION COMMAND...: passes when COMMAND fails
  local d="$1"; shift
  if "$@"; then fail "$d"; else pass "$d"; fi
}
wait_for() { # wait_for SECONDS COMMAND...: polls COMMAND until it succeeds
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

# --- Wine, display, simulator ------------------------------------------------
unset KAV_USE_DISPLAY
SIM_PID=""
stop_sim() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=""
  fi
}
cleanup() {
  stop_sim
  kav_wine_stop
}
trap cleanup EXIT

rm -rf "$WORK"
mkdir -p "$WORK"
echo "install check: $INSTALLER (version $VERSION, $KAV_WINEARCH prefix)"
kav_wine_start "$WORK/prefix" 2>"$WORK/wine-start.log"
W() { "$KAV_WINE" "$@"; }
# Every program joins one virtual desktop with a taskbar and notification
# area, as on a real desktop (the program puts its icon there).
W reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
W reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1

C="$WINEPREFIX/drive_c"
INSTDIR_WIN="C:\\Program Files\\KOVA\\$APP"
INSTDIR="$C/Program Files/KOVA/$APP"
DATA="$C/ProgramData/KOVA/$APP"
SMDIR_WIN="C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\$PRODUCT"
SMDIR="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/$PRODUCT"
appdata_win="$(W cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')"
# The person's own Startup folder (where earlier versions put the shortcut)
# and the all-users one (where it belongs).
USER_STARTUP="$(W winepath -u "$appdata_win\\Microsoft\\Windows\\Start Menu\\Programs\\Startup" 2>/dev/null)"
STARTUP="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp"
EVENTLOG_KEY="HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\$APP"
UNINST_KEY="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$APP"

# regval KEY NAME: prints "TYPE<tab>DATA" of one registry value, fails if absent
regval() {
  W reg query "$1" /v "$2" 2>/dev/null | iconv -f CP932 -t UTF-8 2>/dev/null | tr -d '\r' |
    awk -v n="$2" '$1 == n { t = $2; sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print t "\t" $0; f = 1 } END { exit !f }'
}
reg_is() { # reg_is KEY NAME TYPE DATA
  [ "$(regval "$1" "$2")" = "$3"$'\t'"$4" ]
}
key_exists() { W reg query "$1" >/dev/null 2>&1; }

# lnk_targets LNK: the shortcut names the installed program
lnk_targets() {
  "$PY" - "$1" "$INSTDIR_WIN\\$APP.exe" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read().lower()
want = sys.argv[2].lower()
sys.exit(0 if want.encode("utf-16-le") in data or want.encode("latin-1") in data else 1)
EOF
}

log_files() { ls "$DATA/Log/$APP"_*.log 2>/dev/null | grep -v '_Unhandled' ; }
log_count() { log_files | wc -l; }
newest_log() { log_files | sort | tail -n1; }
first_line_ok() { # the log file's first line is the start-up preparation line
  local f; f="$(newest_log)"
  [ -n "$f" ] && head -n1 "$f" | grep -q '^[0-9]\{4\}/[0-9][0-9]/[0-9][0-9] [0-9:]\{12\} 起動準備, コンピューター名：'
}
log_has_started() { local f; f="$(newest_log)"; [ -n "$f" ] && grep -q ' 起動$' <(tr -d '\r' < "$f"); }
frames() { sed -n 's/.*"frame": *"\([^"]*\)".*/\1/p' "$WORK/frames.jsonl" 2>/dev/null | tr '\n' ' '; }
# frames_since N PATTERN: the frames after the first N match PATTERN
frames_since() { local n="$1" pat="$2"; frames | tr ' ' '\n' | sed '/^$/d' | tail -n +"$((n + 1))" | tr '\n' ' ' | grep -Eq "$pat"; }
frame_count() { frames | wc -w; }

log_count_is() { [ "$(log_count)" -eq "$1" ]; }

end_session() {
  # Signing out: Windows asks every program to end the session, then stops;
  # the prefix's wineserver exits once everything in it has ended.
  timeout 60 "$KAV_WINE" wineboot --end-session --shutdown >/dev/null 2>&1
  if ! timeout 60 wineserver -w 2>/dev/null; then
    wineserver -k 2>/dev/null
    fail "the session ended within 60 s"
    return 1
  fi
}

install() { # install [OPTIONS]: silent install, synchronous; icacls's arguments go to $WORK/install.err
  WINEDEBUG=-all,fixme+icacls timeout 180 "$KAV_WINE" "$INSTALLER" /S "$@" >/dev/null 2>"$WORK/install.err"
}
program_running() { W wmic process get name 2>/dev/null | iconv -f UTF-16 -t UTF-8 | grep -qi "^$APP\.exe"; }
ended_as_at_session_end() { # ended_as_at_session_end WHAT FRAMES_BEFORE
  check_not "$1: the program has ended" program_running
  check "$1: it powered down (W0) as at a session end" frames_since "$2" 'W0'
  check "$1: its last log line is 終了" bash -c '[ "$(tr -d "\r" < "$1" | tail -n1 | cut -d" " -f3-)" = 終了 ]' _ "$(newest_log)"
}
uninstall() { # uninstall [OPTIONS]: the registered quiet uninstall command, then wait
  local cmd exe
  cmd="$(regval "$UNINST_KEY" QuietUninstallString | cut -f2)"
  exe="$(sed -n 's/^"\([^"]*\)".*/\1/p' <<<"$cmd")"
  [ -n "$exe" ] || { fail "QuietUninstallString names the uninstaller"; return 1; }
  # The uninstaller copies itself to the temporary folder and returns at
  # once; its copy does the work.
  timeout 60 "$KAV_WINE" "$exe" /S "$@" >/dev/null 2>&1
  wait_for 60 bash -c '! [ -e "$1" ] && ! "$2" reg query "$3" >/dev/null 2>&1' _ "$INSTDIR" "$KAV_WINE" "$UNINST_KEY"
}

# --- 1. Silent install with the defaults --------------------------------------
echo "== install (defaults)"
check "silent install exits with 0" install
check "program installed under Program Files and equal to the build" cmp -s "$INSTDIR/$APP.exe" "$EXPECT_EXE"
check "uninstaller installed" test -f "$INSTDIR/uninstall.exe"
check "user guide installed" test -s "$INSTDIR/doc/UserGuide.html"
missing_img=""
for img in $(grep -o 'images/[A-Za-z0-9_.-]*\.png' "$ROOT/docs/UserGuide.md" | sort -u); do
  cmp -s "$INSTDIR/doc/$img" "$ROOT/docs/$img" || missing_img="$missing_img $img"
done
check "the guide's screenshots installed${missing_img:+ (missing:$missing_img)}" test -z "$missing_img"
check "Start-menu shortcut points to the program" lnk_targets "$SMDIR/$PRODUCT.lnk"
check "Start-menu shortcut to the user guide" test -f "$SMDIR/ユーザーガイド.lnk"
check "Startup shortcut in the all-users Startup folder points to the program" lnk_targets "$STARTUP/$PRODUCT.lnk"
check_not "no Startup shortcut in the installing person's own folder" test -e "$USER_STARTUP/$PRODUCT.lnk"
check "event source: EventMessageFile is the installed program" \
  reg_is "$EVENTLOG_KEY" EventMessageFile REG_SZ "$INSTDIR_WIN\\$APP.exe"
check "event source: TypesSupported is 7" reg_is "$EVENTLOG_KEY" TypesSupported REG_DWORD 0x7
check "Add/Remove Programs: DisplayName" reg_is "$UNINST_KEY" DisplayName REG_SZ "$PRODUCT"
check "Add/Remove Programs: DisplayVersion $VERSION" reg_is "$UNINST_KEY" DisplayVersion REG_SZ "$VERSION"
check "Add/Remove Programs: UninstallString" reg_is "$UNINST_KEY" UninstallString REG_SZ "\"$INSTDIR_WIN\\uninstall.exe\""
check "Add/Remove Programs: QuietUninstallString" reg_is "$UNINST_KEY" QuietUninstallString REG_SZ "\"$INSTDIR_WIN\\uninstall.exe\" /S"
check "Add/Remove Programs: InstallLocation" reg_is "$UNINST_KEY" InstallLocation REG_SZ "$INSTDIR_WIN"
check "Add/Remove Programs: Publisher" bash -c '[ -n "$(cut -f2 <<<"$1")" ]' _ "$(regval "$UNINST_KEY" Publisher)"
check "the installer made the data folder, and put nothing in it" bash -c '[ -d "$1" ] && [ -z "$(ls -A "$1")" ]' _ "$DATA"
# Wine's icacls only notes its arguments, one quoted string each: the program's own grant, the folder one argument.
check "the data folder gets the Users grant by its SID (icacls /grant:r *S-1-5-32-545:(OI)(CI)M)" \
  grep -qF "\"C:\\\\ProgramData\\\\KOVA\\\\$APP\" \"/grant:r\" \"*S-1-5-32-545:(OI)(CI)M\"" "$WORK/install.err"

# --- 2. The installed program against the simulator ---------------------------
echo "== run the installed program"
# A stored port, so the start-up opens it one second after the start.
mkdir -p "$DATA"
SETTINGS="[HotKey]\r\nComPort=COM$PORT_NUM\r\nPowerUpOnAppStart=1\r\nPowerDownOffAppStart=1\r\nHotKeyEnableOnAppStart=1\r\nWindowVisible=1\r\n"
printf "$SETTINGS" > "$DATA/$APP.ini"
"$SIM" --link "$WINEPREFIX/dosdevices/com$PORT_NUM" --log "$WORK/frames.jsonl" > "$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
check "simulator ready" wait_for 10 grep -q '^READY ' "$WORK/sim.out"

# Signing in runs the Run keys and the programs of both Startup folders.
# wineboot without options does what a log-on does, but Wine runs only the
# person's own Startup folder: the all-users one is run here as Windows'
# shell runs it, each shortcut opened as it is.
timeout 60 "$KAV_WINE" wineboot >/dev/null 2>&1
for lnk in "$STARTUP"/*.lnk; do
  [ -e "$lnk" ] && "$KAV_WINE" start /unix "$lnk" >/dev/null 2>&1
done
check "signing in starts the program from the Startup shortcut (first log line)" wait_for 30 first_line_ok
check "power-up and status request on the wire (W1, then C)" wait_for 15 frames_since 0 'W1 .*C'
check "the program logs its start (起動)" wait_for 15 log_has_started
check "the program registers the same event source" \
  reg_is "$EVENTLOG_KEY" EventMessageFile REG_SZ "$INSTDIR_WIN\\$APP.exe"

echo "== silent upgrade while the program runs, with a prepared settings file"
# A folder with a blank: Wine, as PowerShell, quotes the argument whole ("/INI=C:\deploy files\...").
PREPARED="$C/deploy files/$APP.ini"
mkdir -p "${PREPARED%/*}"
printf "; prepared for every PC\r\n$SETTINGS" > "$PREPARED"
rm -f "$INSTDIR/doc/UserGuide.html"
frames_before=$(frame_count)
install "/INI=C:\\deploy files\\$APP.ini"; rc=$?
check "silent upgrade while the program runs exits with 0 (exit code $rc)" test "$rc" -eq 0
ended_as_at_session_end "upgrade" "$frames_before"
check "program replaced and equal to the build" cmp -s "$INSTDIR/$APP.exe" "$EXPECT_EXE"
check "the guide put back" test -s "$INSTDIR/doc/UserGuide.html"
check "/INI= copied the prepared settings file over the old one" cmp -s "$PREPARED" "$DATA/$APP.ini"
install "/INI=C:\\missing.ini"; rc=$?
check "/INI= naming a missing file stops the install with 2 (exit code $rc)" test "$rc" -eq 2
check "... before the settings file was touched" cmp -s "$PREPARED" "$DATA/$APP.ini"

end_session
frames_before=$(frame_count)
"$KAV_WINE" start "$SMDIR_WIN\\$PRODUCT.lnk" >/dev/null 2>&1
check "the Start-menu shortcut starts the program (second log file)" wait_for 30 log_count_is 2
check "second run: first log line" wait_for 10 first_line_ok
check "second run: power-up and status request on the wire" wait_for 15 frames_since "$frames_before" 'W1 .*C'
check "second run: the program logs its start (起動)" wait_for 15 log_has_started

# --- 3. Silent uninstall: everything gone but the data folder -----------------
echo "== uninstall (defaults)"
# A shortcut as earlier versions made it, in the person's own Startup folder.
plant_old_startup() { mkdir -p "$USER_STARTUP" && cp "$WORK/old-startup.lnk" "$USER_STARTUP/$PRODUCT.lnk"; }
cp "$STARTUP/$PRODUCT.lnk" "$WORK/old-startup.lnk"
check "an earlier version's Startup shortcut planted in the person's own folder" plant_old_startup
# "_?=" makes the uninstaller work in place and return its exit code. NSIS
# takes the rest of the command line, unquoted, as the folder: so the folder
# goes in as several arguments, which Wine joins with single blanks.
frames_before=$(frame_count)
read -ra inplace <<<"_?=$INSTDIR_WIN"
timeout 120 "$KAV_WINE" "$INSTDIR_WIN\\uninstall.exe" /S "${inplace[@]}" >/dev/null 2>&1; rc=$?
check "silent uninstall while the program runs exits with 0 (exit code $rc)" test "$rc" -eq 0
ended_as_at_session_end "uninstall" "$frames_before"
check "in place, only the uninstaller is left in the program folder" bash -c '[ "$(ls -A "$1")" = uninstall.exe ]' _ "$INSTDIR"
check_not "Start-menu folder removed" test -e "$SMDIR"
check_not "Startup shortcut removed (all users)" test -e "$STARTUP/$PRODUCT.lnk"
check_not "earlier version's Startup shortcut removed (the person's own folder)" test -e "$USER_STARTUP/$PRODUCT.lnk"
check_not "event source unregistered" key_exists "$EVENTLOG_KEY"
check_not "Add/Remove Programs entry removed" key_exists "$UNINST_KEY"
check "settings kept" grep -q "^ComPort=COM$PORT_NUM" <(tr -d '\r' < "$DATA/$APP.ini")
check "logs kept" log_count_is 2
end_session
stop_sim

# --- 4. Without the Startup shortcut; uninstall removing the data -------------
echo "== install /NOSTARTUP, uninstall /REMOVEDATA"
# An earlier version's Startup shortcut would start the program at sign-in
# despite the new choice: the install removes it.
check "an earlier version's Startup shortcut planted again" plant_old_startup
cp "$DATA/$APP.ini" "$WORK/settings-before.ini"
check "silent install /NOSTARTUP exits with 0" install /NOSTARTUP
check "program installed" test -f "$INSTDIR/$APP.exe"
check "Start-menu shortcut made" lnk_targets "$SMDIR/$PRODUCT.lnk"
check_not "no Startup shortcut" test -e "$STARTUP/$PRODUCT.lnk"
check_not "earlier version's Startup shortcut removed by the install" test -e "$USER_STARTUP/$PRODUCT.lnk"
check "without /INI= the settings file is kept as it was" cmp -s "$WORK/settings-before.ini" "$DATA/$APP.ini"
check "silent uninstall /REMOVEDATA finishes" uninstall /REMOVEDATA
check_not "program folder removed" test -e "$INSTDIR"
check_not "Program Files\\KOVA removed (it was empty)" test -e "$C/Program Files/KOVA"
check_not "data folder removed" test -e "$DATA"
check_not "ProgramData\\KOVA removed (it was empty)" test -e "$C/ProgramData/KOVA"
check_not "event source unregistered" key_exists "$EVENTLOG_KEY"
check_not "Add/Remove Programs entry removed" key_exists "$UNINST_KEY"

echo "install check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
