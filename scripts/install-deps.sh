#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the saver need, only those missing.
set -euo pipefail
packages=(cmake g++ ninja-build pkg-config clang-format libgtest-dev libgmock-dev libbenchmark-dev
          libsdl2-dev libpng-dev libx11-dev libxext-dev libxrender-dev xvfb xdotool xauth
          python3 xscreensaver libgtk-3-dev imagemagick
          libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libglx-mesa0)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
