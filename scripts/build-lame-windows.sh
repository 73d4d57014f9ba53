#!/usr/bin/env bash
# Builds LAME 3.100 for 32-bit Windows from Debian's source package and puts
# the statically linked frontend at OUTDIR/lame.exe. The end-to-end tests run
# it under Wine as the program's real decoder: a Unix program behind the
# fixed path would start, but its exit code would read as garbage there.
#
# Usage: scripts/build-lame-windows.sh OUTDIR
# Does nothing when OUTDIR/lame.exe exists. Needs apt (for the source),
# dpkg-source and the i686-w64-mingw32 cross compiler; changes nothing
# outside OUTDIR.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
mkdir -p "$1"
outdir=$(cd "$1" && pwd)
[[ -f "$outdir/lame.exe" ]] && exit 0

command -v dpkg-source >/dev/null || {
  echo "$0: dpkg-source is missing (scripts/setup.sh installs dpkg-dev)" >&2
  exit 1
}
work="$outdir/lame-src"
rm -rf "$work"
mkdir -p "$work/lists/partial" "$work/cache"
# apt-get source needs a deb-src entry; Debian 12 images ship binaries only.
# apt gets one of its own, derived from the machine's sources, with its own
# lists and cache: nothing of the system's apt setup changes. Its update
# hooks are for the system's lists and stay quiet.
sources=$(bash "$(dirname "$0")/apt-entry.sh" deb-src "" "$work/source")
echo '#clear APT::Update::Post-Invoke-Success;' >"$work/apt.conf"
apt=(-c "$work/apt.conf" -o Dir::Etc::SourceList="$sources" -o Dir::Etc::SourceParts=/dev/null
  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
# As root, apt would warn that its sandbox user cannot read the work dir.
[[ $(id -u) -eq 0 ]] && apt+=(-o APT::Sandbox::User=root)
apt-get "${apt[@]}" update -qq
(cd "$work" && apt-get "${apt[@]}" source -qq lame >/dev/null)
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
