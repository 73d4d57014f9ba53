#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Needs root
# (or sudo); does nothing when everything is already there.
#   setup.sh        everything: the Linux build, the Windows build, Wine, fuzzing
#   setup.sh linux  only what the Linux program and its demo need
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config make python3
  libgtk-3-dev googletest lame
  xvfb xauth xdotool imagemagick x11-utils
)
if [ "${1:-all}" != linux ]; then
  packages+=(
    g++-mingw-w64-i686 mingw-w64-tools dpkg-dev
    wine wine32
    clang libclang-rt-14-dev
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "All needed packages are installed."
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || {
    echo "Please run as root: apt-get install ${missing[*]}" >&2
    exit 1
  }
  sudo="sudo"
fi
# wine32 is an i386 package.
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
