# Shared by the end-to-end cases under Wine: one prefix for all of them, a virtual display,
# a relay trace of the calls that matter, and helpers to press the stub's buttons.
# Sourced by sh scripts; expects ROOT to be set or derives it from this file's place.

set -eu

ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
BUILD=${KIV_BUILD:-$ROOT/build}
STUB=$BUILD/win32/Setup.exe
KIVDEMO=$BUILD/win32/kivdemo.exe
KIVPACK=$BUILD/host/kivpack
ARTIFACTS=$BUILD/artifacts
export WINEPREFIX=${KIV_WINEPREFIX:-$BUILD/wine-prefix}
export WINEDLLOVERRIDES='mscoree,mshtml='
export WINEDEBUG=-all
mkdir -p "$ARTIFACTS"

# The calls whose arguments the cases read from the relay trace (module names as Wine
# spells them in the trace: KERNEL32 in capitals).
RELAY_CALLS='user32.MessageBoxA;KERNEL32.WinExec;KERNEL32.SetDefaultDllDirectories;KERNEL32.GetProcAddress;user32.CreateDialogParamA;user32.ShowWindow;user32.RedrawWindow;KERNEL32.SetErrorMode;user32.DestroyWindow;KERNEL32.GetTempPathA'

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "  $*"; }

# Creates the prefix once, under a lock so that parallel cases wait for it.
wine_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
    fi
    if [ "$(cat "$WINEPREFIX/.kiv-ready" 2>/dev/null)" != "$RELAY_CALLS" ]; then
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d "$RELAY_CALLS" /f >/dev/null 2>&1
      wineserver -w
      echo "$RELAY_CALLS" >"$WINEPREFIX/.kiv-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# Starts a private X display for this case and stops it when the case ends.
start_display() {
  n=${KIV_DISPLAY_BASE:-91}
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  trap 'kill $XVFB_PID 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT INT TERM
  i=0
  until xdpyinfo >/dev/null 2>&1 || xdotool getdisplaygeometry >/dev/null 2>&1; do
    i=$((i + 1)); [ $i -lt 100 ] || fail "no display"; sleep 0.1
  done
}

# The Windows path of a file under the prefix's C: drive, and back.
win_temp_dir() { echo "$WINEPREFIX/drive_c/users/$(id -un)/Temp"; }

# run_traced TRACE PROGRAM [ARGS...]: starts a Windows program in the background with the
# relay trace written to TRACE; sets RUN_PID.
run_traced() {
  trace=$1; shift
  WINEDEBUG=+relay wine "$@" >/dev/null 2>"$trace" &
  RUN_PID=$!
}

# wait_run: waits for the program started by run_traced and sets RUN_STATUS to its exit code.
wait_run() {
  RUN_STATUS=0
  wait "$RUN_PID" || RUN_STATUS=$?
  wineserver -w
}

# find_window NAME [SECONDS]: prints the id of the visible window with this exact title.
find_window() {
  name=$1; limit=${2:-30}; i=0
  while :; do
    id=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    i=$((i + 1)); [ $i -lt $((limit * 10)) ] || return 1
    sleep 0.1
  done
}

# dismiss_box [SCREENSHOT]: waits for the error box titled "Setup", photographs the screen,
# and presses its OK button with the Return key.
dismiss_box() {
  id=$(find_window Setup) || fail "no box titled Setup appeared"
  sleep 0.3
  [ -z "${1:-}" ] || import -window root "$1" 2>/dev/null || true
  xdotool windowfocus --sync "$id" key --window "$id" Return 2>/dev/null || xdotool key Return
}

# The n-th call's arguments of a relayed function, as Wine prints them.
relay_calls() { grep -a "Call $1(" "$2" || true; }
