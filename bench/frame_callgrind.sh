#!/usr/bin/env bash
# Instructions per replayed frame of the rasteriser (callgrind, inside ReplayRasterFrame), one
# thread, for each captured frame and on average, at the sizes given (default 640x480 and 1920x1080).
#   bench/frame_callgrind.sh [BUILD_DIR] [SIZES]
set -euo pipefail
build=${1:-build/release}
sizes=${2:-640x480,1920x1080}
bench="$build/bench/frame_bench"
if ! command -v valgrind >/dev/null; then
  echo "frame_callgrind: valgrind is not installed" >&2
  exit 77
fi
[[ -x "$bench" ]] || { echo "frame_callgrind: $bench not built" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
frames=$("$bench" --sizes 1x1 --threads 1 --reps 1 | grep -c ' min ' || true)
frames=$((frames - 1))  # the total line
for size in ${sizes//,/ }; do
  sum=0
  for ((f = 0; f < frames; f++)); do
    valgrind --tool=callgrind --callgrind-out-file="$out/cg.$f" --toggle-collect='ReplayRasterFrame*' \
      "$bench" --sizes "$size" --threads 1 --reps 1 --frame "$f" --quiet >/dev/null 2>&1
    ir=$(awk '/^summary:|^totals:/ {print $2; exit}' "$out/cg.$f")
    sum=$((sum + ir))
    printf '%s frame %2d: %6.2f M instructions\n' "$size" "$f" "$(echo "$ir / 1000000" | bc -l)"
  done
  printf '%s average: %6.2f M instructions per frame\n' "$size" "$(echo "$sum / $frames / 1000000" | bc -l)"
done
