#!/bin/sh
# make demo: packs the demo secondary setup with the sample blocks behind the stub, runs the
# package under Wine on a virtual display, and prints what the secondary setup received.
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$ROOT/tests/wine/lib.sh"

SAMPLES=$ROOT/tools/kivdemo/samples
work_dir demo
PACKAGE=$BUILD/demo/Setup.exe
mkdir -p "$(dirname "$PACKAGE")"

echo "== kivpack build"
"$KIVPACK" build -o "$PACKAGE" --program "$KIVDEMO" \
  --block1 "$SAMPLES/block1_license.txt" --block2 "$SAMPLES/block2_readme.txt" \
  --block4 "$SAMPLES/block4_data.bin"
echo "== kivpack inspect $PACKAGE"
"$KIVPACK" inspect "$PACKAGE"

wine_prefix
start_display
echo "== wine Setup.exe /demo (the secondary setup reports to C:\\kivreport.txt)"
run_traced "$WORK/trace" "$PACKAGE" /demo /nowindow '/report=C:\kivreport.txt'
wait_run
[ "$RUN_STATUS" = 0 ] || fail "Setup.exe exited with $RUN_STATUS"
[ "$(relay_count user32.MessageBoxA "$WORK/trace")" = 0 ] ||
  fail "Setup.exe reported: $(relay_strings user32.MessageBoxA "$WORK/trace")"
printf "started: %s\n" "$(relay_strings KERNEL32.WinExec "$WORK/trace")"
echo "== the demo secondary setup's report"
tr -d '\r' <"$WINEPREFIX/drive_c/kivreport.txt"
