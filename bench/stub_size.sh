#!/bin/sh
# The stub's size against its budget and against the reference image of 36,864 bytes.
set -eu
stub=${1:-build/win32/Setup.exe}
size=$(stat -c %s "$stub")
budget=12288
reference=36864
echo "stub $stub: $size bytes"
awk -v s="$size" -v b="$budget" -v r="$reference" 'BEGIN {
  printf "  budget     %6d bytes   %.2fx of budget (%s)\n", b, s / b, s <= b ? "within" : "OVER"
  printf "  reference  %6d bytes   %.2fx of reference\n", r, s / r }'
i686-w64-mingw32-objdump -h "$stub" | awk '/^ +[0-9]+ \./ { print $2, $3 }' |
  while read -r name hex; do printf '  %-8s %6d bytes in memory\n' "$name" "$((0x$hex))"; done
