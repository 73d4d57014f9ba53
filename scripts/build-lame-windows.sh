#!/usr/bin/env bash
# Builds LAME 3.100 for 32-bit Windows from Debian's source package and puts
# the statically linked frontend at OUTDIR/lame.exe. The end-to-end tests run
# it under Wine as the program's real decoder: a Unix program behind the
# fixed path would start, but its exit code would read as garbage there.
#
# Usage: scripts/build-lame-windows.sh OUTDIR
# Does nothing when OUTDIR/lame.exe exists. Needs apt (for the source) and
# the i686-w64-mingw32 cross compiler.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
mkdir -p "$1"
outdir=$(cd "$1" && pwd)
[[ -f "$outdir/lame.exe" ]] && exit 0

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

# apt-get source needs a deb-src entry; Debian 12 images ship binaries only.
if ! apt-cache showsrc lame 2>/dev/null | grep -q '^Package: lame'; then
  if ! grep -rqs '^\(Types:.*deb-src\|deb-src\)' /etc/apt/sources.list \
      /etc/apt/sources.list.d/; then
    as_root tee /etc/apt/sources.list.d/debian-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  as_root apt-get update -qq
fi
command -v dpkg-source >/dev/null || as_root apt-get install -y -qq dpkg-dev

work="$outdir/lame-src"
rm -rf "$work"
mkdir -p "$work"
# As root, apt would warn that its sandbox user cannot read the work dir.
sandbox=()
[[ $(id -u) -eq 0 ]] && sandbox=(-o APT::Sandbox::User=root)
(cd "$work" && apt-get source -qq "${sandbox[@]}" lame >/dev/null)
src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'lame-*' | head -n 1)
if [[ -z "$src" ]]; then
  echo "apt-get source lame unpacked nothing in $work" >&2
  exit 1
fi

cd "$src"
log="$outdir/lame-build.log"
# The frontend (lame.exe) is what we need, with mpglib for --decode (on by
# default); everything static so it runs in a bare Wine prefix.
if ! { ./configure --host=i686-w64-mingw32 --disable-shared --enable-static \
         --disable-gtktest --disable-dependency-tracking LDFLAGS=-static &&
       make -j"$(nproc)"; } >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "LAME build failed; full log in $log" >&2
  exit 1
fi
cp frontend/lame.exe "$outdir/lame.exe.part"
mv "$outdir/lame.exe.part" "$outdir/lame.exe"
rm -rf "$work"
echo "built $outdir/lame.exe"
