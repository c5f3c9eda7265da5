#!/bin/sh
# The stub is a PE32 GUI image for i386 that imports only KERNEL32, USER32, GDI32 and msvcrt.
set -eu
stub=$1
headers=$(i686-w64-mingw32-objdump -p "$stub")
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
printf '%s\n' "$headers" | grep -q 'file format pei-i386' || fail "not an i386 PE image"
printf '%s\n' "$headers" | grep -Eq '^Magic[[:space:]]+010b' || fail "not PE32"
printf '%s\n' "$headers" | grep -Eq '^Subsystem[[:space:]]+00000002' || fail "not a GUI program"
imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
[ "$imports" = "GDI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] || fail "imports: $imports"
echo "ok: $(stat -c %s "$stub") bytes, imports $imports"
