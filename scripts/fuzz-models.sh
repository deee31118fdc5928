#!/usr/bin/env bash
# Coverage-guided fuzzing of the model file reader with libFuzzer (clang++ with ASan and UBSan).
# Seeds are the generated data set's model files (build the project first). Usage:
#   scripts/fuzz-models.sh [SECONDS]     (default 600; 0 runs until stopped)
# Prints libFuzzer's statistics; a crash leaves a crash-* file in the work folder and exits non-zero.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-600}"
work="${FUZZ_WORK:-$root/build/fuzz-models}"
data="$root/build/release/data"
compgen -G "$data/*.klv" >/dev/null || { echo "no model files in $data: build the project first" >&2; exit 2; }
mkdir -p "$work/corpus"
cp -n "$data"/*.klv "$work/corpus/"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" \
  "$root/tests/fuzz/klvloader_fuzzer.cpp" \
  "$root"/src/model/{klvloader,sceneobject,matrix,texture_path,klvdib}.cpp \
  "$root"/src/platform/file_read.cpp "$root"/src/platform/win/{bitmap,bmp_format}.cpp \
  -o "$work/klvloader_fuzzer"

cd "$work"
./klvloader_fuzzer -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 corpus
