#!/bin/sh
# The steps of `make bench`, in order, each printing its own side-by-side figures.
# A new benchmark adds one `step` line at the end: a title, then the command to run.
set -eu
BUILD=${BUILD:-build/host}

step() {
    title=$1
    shift
    echo "== $title"
    "$@"
    echo
}

step "program streams: decoding, size, encoding" "$BUILD/stream_bench"
step "stub size" sh bench/stub_size.sh "${WIN32:-build/win32}/Setup.exe"
mkdir -p build/bench-work
step "extraction: the stub's code against cp, its memory, the pump's cost" "$BUILD/extract_bench" build/bench-work
step "kivpack build against cp and zip -9" sh bench/package_bench.sh "$BUILD/kivpack"
