#!/usr/bin/env bash
# Coverage-guided fuzzing of the bitmap readers with libFuzzer (clang++ with ASan and UBSan).
# Seeds are the committed bitmap fixtures. Usage:
#   scripts/fuzz-bitmaps.sh [RUNS]     (default 1000000 inputs; 0 runs until stopped)
# Prints libFuzzer's statistics; a crash leaves a crash-* file in the work folder and exits non-zero.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-1000000}"
work="${FUZZ_WORK:-$root/build/fuzz-bitmaps}"
mkdir -p "$work/corpus"
cp -n "$root"/tests/data/bmp/*.bmp "$work/corpus/" 2>/dev/null || true

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" \
  "$root/tests/fuzz/bitmap_fuzzer.cpp" \
  "$root/src/platform/win/bitmap.cpp" "$root/src/platform/win/bmp_format.cpp" \
  "$root/src/platform/file_read.cpp" "$root/src/model/klvdib.cpp" \
  -o "$work/bitmap_fuzzer"

cd "$work"
./bitmap_fuzzer -runs="$runs" -max_len=4096 -rss_limit_mb=2048 -print_final_stats=1 corpus
