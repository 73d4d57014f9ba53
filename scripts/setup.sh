#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Needs root
# (or sudo); does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config make python3
  libgtk-3-dev googletest lame
  xvfb xauth xdotool imagemagick x11-utils
  g++-mingw-w64-i686 mingw-w64-tools dpkg-dev
  wine wine32
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# wine32 is an i386 package.
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
