#!/usr/bin/env bash
# Builds one libFuzzer harness from tests/fuzz/NAME_fuzzer.cpp with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it; run by hand for long fuzzing sessions (the seeded tests
# in the test suite run the same checks briefly).
#   scripts/fuzz.sh NAME [libFuzzer options...]    e.g. scripts/fuzz.sh blt -max_total_time=600
# The harness links the platform sources only; objects are kept in build/fuzz between runs. To run
# one saved input again: build/fuzz/NAME_fuzzer FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/fuzz.sh NAME [libFuzzer options...]}
shift
harness=tests/fuzz/${name}_fuzzer.cpp
[[ -f $harness ]] || { echo "no harness $harness" >&2; exit 2; }
command -v clang++ >/dev/null || { echo "clang++ is needed (apt-get install clang)" >&2; exit 2; }
out=build/fuzz
mkdir -p "$out/obj" "$out/corpus/$name"
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -Isrc -Itests
       $(pkg-config --cflags sdl2 libpng))
objects=()
for source in src/platform/*.cpp src/platform/*/*.cpp; do
  object=$out/obj/$(echo "${source%.cpp}" | tr / _).o
  if [[ ! -f $object || $source -nt $object ]]; then
    clang++ "${flags[@]}" -c "$source" -o "$object" &
  fi
  objects+=("$object")
  # Two compilers at a time.
  while (($(jobs -rp | wc -l) >= 2)); do wait -n; done
done
wait
clang++ "${flags[@]/fuzzer-no-link/fuzzer}" "$harness" "${objects[@]}" -o "$out/${name}_fuzzer" \
  $(pkg-config --libs sdl2 libpng) -lpthread
exec "$out/${name}_fuzzer" "$out/corpus/$name" "$@"
