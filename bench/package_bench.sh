#!/bin/sh
# `kivpack build` side by side with `cp` and `zip -9` of the same input bytes, for a package
# shaped like a real one: a secondary setup of a few hundred KB (a real PE) and blocks 1, 2 and 4
# of 23,312, 3,795 and 3,255,486 bytes (text, text, and incompressible archive-like data).
# Usage: package_bench.sh [KIVPACK]   (default build/host/kivpack)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
KIVPACK=${1:-$ROOT/build/host/kivpack}
[ -x "$KIVPACK" ] || { echo "package_bench: no $KIVPACK (make host)" >&2; exit 1; }
KIVPACK=$(cd "$(dirname "$KIVPACK")" && pwd)/$(basename "$KIVPACK")
for tool in zip openssl; do
  command -v $tool >/dev/null || { echo "package_bench: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

PE_DIR=/usr/lib/i386-linux-gnu/wine/i386-windows
PROGRAM=""
for name in dxdiag.exe msiexec.exe start.exe; do
  [ -f "$PE_DIR/$name" ] && { PROGRAM=$PE_DIR/$name; break; }
done
[ -n "$PROGRAM" ] || { echo "package_bench: no PE of 200 to 300 KB in $PE_DIR" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kivbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# The same bytes on every run: numbered text lines, and AES-CTR over zeros for the data that
# a real setup keeps compressed already.
cp "$PROGRAM" program.exe
seq -f 'setup information line %06g' 1 100000 | head -c 23312 >block1.bin
seq -f 'language entry %g' 1 1000 | head -c 3795 >block2.bin
head -c 3255486 /dev/zero |
  openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f -iv 00000000000000000000000000000000 >block4.bin

now() { date +%s%N; }
size() { wc -c <"$1" | tr -d ' '; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f%%", 100 * a / b }'; }
json_field() { sed -n "/\"$2\"/,/}/s/.*\"$3\": \([0-9]*\).*/\1/p" "$1" | head -n 1; }

t0=$(now)
"$KIVPACK" build --quiet -o Setup.exe --program program.exe --block1 block1.bin \
  --block2 block2.bin --block4 block4.bin
t1=$(now)
"$KIVPACK" inspect --json Setup.exe >report.json
stub_size=$(json_field report.json stub size)
stream_size=$(json_field report.json program packedSize)
# The inputs as bytes on disk: the stub kivpack embeds, the program, the blocks.
head -c "$stub_size" Setup.exe >stub.exe
cat stub.exe program.exe block1.bin block2.bin block4.bin >inputs.bin
t2=$(now)
cp inputs.bin copy.bin
t3=$(now)
zip -9 -q -j inputs.zip stub.exe program.exe block1.bin block2.bin block4.bin
t4=$(now)
zip -9 -q -j program.zip program.exe

inputs=$(size inputs.bin)
program=$(size program.exe)
row() { printf '  %-14s %7s s %10s bytes %7s of the inputs\n' "$1" "$2" "$(size "$3")" "$(percent "$(size "$3")" "$inputs")"; }
echo "package: $(basename "$PROGRAM") $program bytes, blocks 23312 + 3795 + 3255486 bytes, stub $stub_size bytes: $inputs bytes in all"
row "kivpack build" "$(seconds "$t0" "$t1")" Setup.exe
row "cp" "$(seconds "$t2" "$t3")" copy.bin
row "zip -9" "$(seconds "$t3" "$t4")" inputs.zip
printf '  %-14s %20s bytes %7s of the program; zip -9 of it: %s bytes, %s\n' "program stream" \
  "$stream_size" "$(percent "$stream_size" "$program")" "$(size program.zip)" \
  "$(percent "$(size program.zip)" "$program")"
