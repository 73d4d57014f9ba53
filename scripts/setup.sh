#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Needs root
# (or sudo); does nothing when everything is already there.
#   setup.sh        everything: the Linux build, the Windows build, Wine,
#                   the release archives
#   setup.sh linux  only what the Linux program and its demo need
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config make python3
  libgtk-3-dev googletest lame
  xvfb xauth xdotool xclip imagemagick x11-utils
  # Wayland: a headless Weston, and the window read and pressed through
  # AT-SPI on a private session bus, from Debian's python3.
  weston dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0
)
if [ "${1:-all}" != linux ]; then
  packages+=(
    g++-mingw-w64-i686 mingw-w64-tools dpkg-dev
    wine wine32
    zip unzip
  )
fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done

sudo=""
[ "$(id -u)" -eq 0 ] || ! command -v sudo >/dev/null || sudo="sudo"

# Earlier versions of these scripts wrote these apt sources, naming one
# archive's host; each goes while it holds exactly that (its SHA-256). The
# entries now come from the machine's own sources (apt-entry.sh).
sources=/etc/apt/sources.list.d
for old in debian-src.sources:9ca759789ca18e95b43a7e4ce4afd03f22b1379178b058b8bdfa0e48b3d8d63a \
  bookworm-backports.list:09d67ed3df16015c029d5b34425a5fb32d56858312fa3f30d5e22898a942f6f4; do
  file=$sources/${old%%:*}
  if [ -f "$file" ] && [ "$(sha256sum <"$file")" = "${old#*:}  -" ]; then
    echo "setup.sh: removing $file, written by an earlier version"
    $sudo rm "$file"
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "All needed packages are installed."
elif [ "$(id -u)" -ne 0 ] && [ -z "$sudo" ]; then
  echo "Please run as root: apt-get install ${missing[*]}" >&2
  exit 1
else
  # wine32 is an i386 package.
  $sudo dpkg --add-architecture i386
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
[ "${1:-all}" = linux ] && exit 0

# Some kernels run no 32-bit programs at all (IA-32 emulation off): Wine's
# 32-bit loader then fails with "Exec format error". QEMU's user-mode
# emulator runs it instead, handed every i386 program by binfmt_misc. It is
# the one from bookworm-backports: Debian 12's own 7.2 crashes while Wine
# starts. The registration lasts until the machine restarts.
/usr/lib/wine/wine --version >/dev/null 2>&1 && exit 0
[ "$(id -u)" -eq 0 ] || {
  echo "setup.sh: this kernel runs no 32-bit programs; run as root once" \
    "to let QEMU run Wine" >&2
  exit 0
}
echo "setup.sh: this kernel runs no 32-bit programs; Wine runs under QEMU"
if ! qemu-i386-static --version 2>/dev/null | grep -q "version \(9\|[1-9][0-9]\)\."; then
  backports="$(. /etc/os-release && echo "$VERSION_CODENAME")-backports"
  if ! grep -rqs "^[^#]*[[:space:]]$backports\([[:space:]]\|$\)" /etc/apt/sources.list $sources; then
    bash "$(dirname "$0")/apt-entry.sh" deb -backports "$sources/$backports" >/dev/null
  fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -t "$backports" qemu-user-static
fi
binfmt=/proc/sys/fs/binfmt_misc
[ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt
[ -e $binfmt/qemu-i386 ] && echo -1 >$binfmt/qemu-i386
# 32-bit ELF executables and shared objects for the 386; F keeps the
# emulator open, so it also serves other mount namespaces.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:FOCP" >$binfmt/register
