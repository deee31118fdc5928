#!/usr/bin/env bash
# Installs what is missing, builds the project twice (warnings as errors; then with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLV_WERROR=ON
cmake --build build/release -j "$jobs"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKLV_WERROR=ON -DKLV_SANITIZE=ON -DKLV_BENCH=OFF
cmake --build build/asan -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
echo "== Tests, release build"
ctest --test-dir build/release --output-on-failure -j "$jobs" || status=1
echo "== Tests, sanitizer build"
ctest --test-dir build/asan --output-on-failure -j "$jobs" || status=1
exit $status
