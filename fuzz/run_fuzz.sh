#!/bin/sh
# Builds the fuzz targets with libFuzzer and the sanitizers into build/fuzz/ (or $FUZZ_OUT) and
# runs each for SECONDS (default 30); further arguments name the targets to run, all by default.
# New inputs go to build/fuzz/corpus/<corpus>/; fuzz/corpus/<corpus>/ holds the seeds and is
# only read. A crash leaves its input in build/fuzz/.
set -eu
SECONDS_EACH=${1:-30}
[ $# -gt 0 ] && shift
TARGETS=${*:-decoder_fuzz roundtrip_fuzz trailer_fuzz extract_fuzz command_tail_fuzz inspect_fuzz}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${FUZZ_OUT:-$ROOT/build/fuzz}
CXX=${FUZZ_CXX:-clang++}
# No _FORTIFY_SOURCE: it sends some fread calls past the wrapped ones.
FLAGS="-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
  -U_FORTIFY_SOURCE -DKIV_VERSION=\"fuzz\" -I$ROOT -I$ROOT/platform -I$ROOT/tools/kivpack -I$ROOT/fuzz"
mkdir -p "$OUT"

# target: its sources beside the target file itself, and what it links with
host="platform/host/host_api.cpp"
stage="package/trailer.cpp package/decoder.cpp package/temp_file.cpp package/extract.cpp
  shell/error_report.cpp $host fuzz/fuzz_busy.cpp"
wrapped="platform/host/stream_faults.cpp"
wrap="-Wl,--wrap=fopen,--wrap=fread,--wrap=fwrite,--wrap=fclose,--wrap=remove,--wrap=fseeko,--wrap=fseek,--wrap=ferror"
# kivpack's library, as cmake/kivpack.cmake gathers it, without its stub image
kivpack="$(cd "$ROOT" && ls tools/kivpack/*.cpp | grep -v '/main\.cpp$') fuzz/no_stub_image.cpp"
sources_decoder_fuzz="package/decoder.cpp fuzz/fuzz_busy.cpp"
sources_roundtrip_fuzz="package/decoder.cpp tools/kivpack/encoder.cpp fuzz/fuzz_busy.cpp"
sources_trailer_fuzz="package/trailer.cpp shell/error_report.cpp $host"
sources_extract_fuzz="$stage $wrapped"
sources_command_tail_fuzz="shell/command_tail.cpp $host"
sources_inspect_fuzz="$kivpack $stage $wrapped"
links_extract_fuzz=$wrap
links_inspect_fuzz=$wrap

for target in $TARGETS; do
    eval extra=\$sources_$target
    eval links=\${links_$target:-}
    files="fuzz/$target.cpp"
    for source in $extra; do files="$files $ROOT/$source"; done
    echo "== $target: build"
    (cd "$ROOT" && $CXX $FLAGS $files $links -o "$OUT/$target")
    corpus=${target%_fuzz}
    mkdir -p "$OUT/corpus/$corpus"
    echo "== $target: ${SECONDS_EACH}s"
    (cd "$OUT" && "./$target" -max_total_time="$SECONDS_EACH" -max_len=20000 -print_final_stats=1 \
        "corpus/$corpus" "$ROOT/fuzz/corpus/$corpus")
done
