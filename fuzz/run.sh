#!/bin/sh
# Builds every fuzz target with libFuzzer and the sanitizers into build/fuzz/ and runs each for
# SECONDS (default 30). New inputs go to build/fuzz/corpus/<target>/; fuzz/corpus/<target>/
# holds the seeds and is only read. A crash leaves its input in build/fuzz/.
set -eu
SECONDS_EACH=${1:-30}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=$ROOT/build/fuzz
CXX=${FUZZ_CXX:-clang++}
FLAGS="-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
  -I$ROOT -I$ROOT/platform -I$ROOT/tools/kivpack -I$ROOT/fuzz"
mkdir -p "$OUT"

# target: its sources beside the target file itself
sources_decoder_fuzz="package/decoder.cpp fuzz/fuzz_busy.cpp"
sources_roundtrip_fuzz="package/decoder.cpp tools/kivpack/encoder.cpp fuzz/fuzz_busy.cpp"

for target in decoder_fuzz roundtrip_fuzz; do
    eval extra=\$sources_$target
    files="fuzz/$target.cpp"
    for source in $extra; do files="$files $ROOT/$source"; done
    echo "== $target: build"
    (cd "$ROOT" && $CXX $FLAGS $files -o "$OUT/$target")
    corpus=${target%_fuzz}
    mkdir -p "$OUT/corpus/$corpus"
    echo "== $target: ${SECONDS_EACH}s"
    (cd "$OUT" && "./$target" -max_total_time="$SECONDS_EACH" -max_len=20000 -print_final_stats=1 \
        "corpus/$corpus" "$ROOT/fuzz/corpus/$corpus")
done
