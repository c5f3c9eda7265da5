# Shared by the end-to-end cases under Wine: one prefix for all of them, a virtual display,
# a relay trace of the calls that matter, and helpers to press the stub's buttons.
# Sourced by sh scripts; expects ROOT to be set or derives it from this file's place.

set -eu

ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
BUILD=${KIV_BUILD:-$ROOT/build}
WIN32_DIR=${KIV_WIN32_DIR:-$BUILD/win32}
HOST_DIR=${KIV_HOST_DIR:-$BUILD/host}
STUB=$WIN32_DIR/Setup.exe
KIVDEMO=$WIN32_DIR/kivdemo.exe
KIVPACK=$HOST_DIR/kivpack
ARTIFACTS=$BUILD/artifacts
export WINEPREFIX=${KIV_WINEPREFIX:-$BUILD/wine-prefix}
export WINEDLLOVERRIDES='mscoree,mshtml='
export WINEDEBUG=-all
mkdir -p "$ARTIFACTS"

# The calls whose arguments the cases read from the relay trace (module names as Wine
# spells them in the trace: KERNEL32 in capitals).
RELAY_CALLS='user32.MessageBoxA;KERNEL32.WinExec;KERNEL32.SetDefaultDllDirectories;KERNEL32.GetProcAddress;user32.CreateDialogParamA;user32.ShowWindow;user32.RedrawWindow;KERNEL32.SetErrorMode;user32.DestroyWindow;KERNEL32.GetTempPathA'

fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
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


# relay_strings FUNCTION TRACE: the first text argument of every call of FUNCTION (for
# example user32.MessageBoxA), one call a line, with Wine's escapes undone except that
# CR LF is shown as the two characters "|" and "|".
relay_strings() {
  perl -ne 'BEGIN { $f = shift @ARGV }
    next unless /Call \Q$f\E\([^"]*"((?:[^"\\]|\\.)*)"/;
    ($s = $1) =~ s/\\(.)/$1 eq "r" ? "|" : $1 eq "n" ? "|" : $1 eq "t" ? "\t" : $1/ge;
    print "$s\n"' "$1" "$2"
}

# relay_count FUNCTION TRACE: how many times FUNCTION was called.
relay_count() { grep -a -c "Call $1(" "$2" || true; }

# The CRC-32 of a file, as 8 lowercase hex digits (gzip keeps it in its last 8 bytes).
crc32_of() { gzip -c <"$1" | tail -c 8 | head -c 4 | od -An -tx4 | tr -d ' \n'; }

expect_eq() {  # expect_eq WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

# A fresh work directory for one case, inside the build tree (Wine sees it as Z:).
work_dir() {
  WORK=$BUILD/wine-work/$1
  rm -rf "$WORK"; mkdir -p "$WORK"
  TEMP_DIR=$(win_temp_dir)
  mkdir -p "$TEMP_DIR"
  rm -rf "$TEMP_DIR"/_setup*
  rm -f "$WINEPREFIX/drive_c/kivreport.txt"
}

# The Windows name of a Unix path under /, as Wine's Z: drive shows it.
win_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# build_package OUT PROGRAM B1 B2 B3 B4 ('-' for an absent block), with the project's packer.
build_package() {
  out=$1 program=$2 options=""
  shift 2
  n=1
  for block in "$@"; do
    [ "$block" = - ] || options="$options --block$n $block"
    n=$((n + 1))
  done
  # shellcheck disable=SC2086
  "$KIVPACK" build --quiet -o "$out" --program "$program" $options
}
