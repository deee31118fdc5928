#!/usr/bin/env bash
# Runs the GLX context test binary given as the argument on an X server of its own (Xvfb through
# xvfb-run, with Mesa's GLX), so its cases run where no display is set, as in CI, instead of
# skipping. Fails when the binary fails or skips a case; exits 77 (skipped) where xvfb-run is missing.
set -u
binary=$1
command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed"; exit 77; }
out=$(env -u DISPLAY -u WAYLAND_DISPLAY xvfb-run -a -s "-screen 0 320x240x24 -nolisten tcp" "$binary" 2>&1)
code=$?
echo "$out"
if [ "$code" -ne 0 ]; then
  echo "FAILED: $(basename "$binary") exited with $code on Xvfb" >&2
  exit 1
fi
if grep -q '^\[  SKIPPED \]' <<<"$out" || ! grep -q '^\[  PASSED  \]' <<<"$out"; then
  echo "FAILED: $(basename "$binary") skipped its cases on Xvfb" >&2
  exit 1
fi
