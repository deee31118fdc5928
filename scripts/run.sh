#!/usr/bin/env bash
# Runs the saver: installs what is missing, builds the saver and the default data set, and starts
# the saver full screen on that data set. Any key, a mouse move or a click ends it. On a machine
# without a display it runs the headless driver instead and writes a few frames as PNG files.
#
#   bash scripts/run.sh [ARGUMENT]    (ARGUMENT as a screen saver gets it: /s, /c, ...; default /s)
#
# KLV_BUILD_DIR names another build folder (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${KLV_BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLV_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target kalvor_saver klvsnap klv_data
data=$(pwd)/$build/data

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  out=$(pwd)/build/frames
  echo "No display here (DISPLAY and WAYLAND_DISPLAY are unset), so the saver runs headless:"
  echo "600 steps with a fixed seed, frames 1, 200, 400 and 600 written as PNG files."
  "$build/tools/klvsnap" --data "$data" --steps 600 --frames 1,200,400,600 --out "$out"
  echo "The frames are in $out"
  exit 0
fi

# The saver looks for its data in the folder its settings name ("DataPath"), else in the current
# folder: started from the data set's folder, it finds the default data set.
echo "Starting the saver; any key, a mouse move or a click ends it."
cd "$data"
exec "../kalvor_saver" "${1:-/s}"
