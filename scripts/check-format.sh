#!/usr/bin/env bash
# Fails (status 1) when a C++ source or header of the project is not laid out as .clang-format says,
# listing the files; status 77 (skipped) where clang-format is missing. `--fix` formats them instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
command -v clang-format >/dev/null || { echo "check-format: clang-format is not installed"; exit 77; }
mapfile -t files < <(cd "$root" && find src tools bench tests settings -name '*.cpp' -o -name '*.h' | sort)
cd "$root"
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted: %s\n' "${bad[@]}"
  echo "check-format: ${#bad[@]} of ${#files[@]} files differ from .clang-format (fix: bash scripts/check-format.sh --fix)"
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
