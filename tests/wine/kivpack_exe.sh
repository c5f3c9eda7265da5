#!/bin/sh
# kivpack.exe under Wine builds a package that the host kivpack verifies, byte for byte the
# package the host kivpack builds from the same inputs, and refuses a missing input the same way.
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$ROOT/tests/wine/lib.sh"
KIVPACK_EXE=$WIN32_DIR/kivpack.exe
[ -f "$KIVPACK_EXE" ] || fail "no $KIVPACK_EXE: build the Windows programs first"
[ -x "$KIVPACK" ] || fail "no $KIVPACK"

wine_prefix
work=$(mktemp -d "$BUILD/kivpack-exe.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
cd "$work"

# A program and two blocks, the same bytes on every run.
cp "$STUB" program.exe
seq 1 3000 >block1.bin
seq 1 200000 | sed 's/$/ kiv/' >block4.bin

wine "$KIVPACK_EXE" build --quiet -o Setup.exe --program program.exe --block1 block1.bin \
  --block4 block4.bin || fail "kivpack.exe build failed"
"$KIVPACK" verify --quiet Setup.exe || fail "the package kivpack.exe built does not verify"
"$KIVPACK" build --quiet -o host.exe --program program.exe --block1 block1.bin --block4 block4.bin
cmp Setup.exe host.exe || fail "kivpack.exe and kivpack built different packages"
note "kivpack.exe built a sound package, identical to the host's"

wine "$KIVPACK_EXE" verify Setup.exe >/dev/null || fail "kivpack.exe verify failed"
wine "$KIVPACK_EXE" extract --quiet Setup.exe -o setup.bin || fail "kivpack.exe extract failed"
"$KIVPACK" extract --quiet Setup.exe -o host_setup.bin
cmp setup.bin host_setup.bin || fail "kivpack.exe and kivpack extracted different files"
note "kivpack.exe verified and extracted it as the host does"

status=0
wine "$KIVPACK_EXE" build -o missing.exe --program nothing.exe 2>error.txt || status=$?
[ "$status" = 1 ] || fail "a missing program gave exit code $status"
grep -q "nothing.exe" error.txt || fail "the error names no file: $(cat error.txt)"
[ ! -e missing.exe ] || fail "a refused build left its output behind"
note "kivpack.exe refused a missing input: $(tr -d '\r' <error.txt)"
