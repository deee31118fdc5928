#!/usr/bin/env bash
# Builds the Debian package xscreensaver-screensaver-kalvor in build/deb (a build configured for
# the prefix /usr, so the paths compiled into the program and written into the desktop entry and
# the man page are the installed ones) and checks it with lintian when lintian is installed.
#
#   bash scripts/package.sh        (the package is written to build/deb/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KLV_PACKAGE_BUILD_DIR:-build/deb}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLV_WERROR=ON -DKLV_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target kalvor klv_data klv_dist_compressed
(cd "$build" && cpack -G DEB)
package=$(ls -t "$build"/xscreensaver-screensaver-kalvor_*.deb | head -1)
echo "Package: $package ($(stat -c %s "$package") bytes)"
dpkg-deb --info "$package" | sed -n '/Package:/,$p'
if command -v lintian >/dev/null; then
  lintian --info "$package"
fi
