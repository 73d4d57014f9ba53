#!/usr/bin/env bash
# Builds the release of the current commit into dist/: the Windows program
# in a zip, the Linux program in a tarball, each in one folder with
# README.txt and LICENSE.txt, and SHA256SUMS for both. The same commit built
# with the same packages (printed at the end; docs/releasing.md lists the release's)
# gives the same bytes, wherever the clone is and whenever it runs.
#   release.sh            build and write dist/
#   release.sh --check    release twice, in two temporary clones at
#                         different paths and in different time zones, and
#                         compare the archives and programs byte for byte
#   release.sh --version  print the version the archives are named by
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The version project() gives the build, and so the version record.
version=$(sed -n 's/^project(larkspire_decompress VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }
name=larkspire_decompress-$version
# The programs first: a difference there names the culprit.
outputs=(build/release-windows/larkspire_decompress.exe
         build/release-linux/larkspire_decompress
         dist/"$name"-win32.zip dist/"$name"-linux-x86_64.tar.gz dist/SHA256SUMS)
# What the bytes depend on: compilers, C and C++ libraries, linkers, archivers.
packages=(gcc-12 g++-12 libc6-dev libstdc++-12-dev libgtk-3-dev binutils
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix-runtime
          mingw-w64-i686-dev binutils-mingw-w64-i686 zip tar gzip)

scratch=""
trap 'rm -rf "$scratch"' EXIT

check() {
  local commit runs=("a:Pacific/Kiritimati" "second/clone b:America/Adak")
  commit=$(git rev-parse HEAD)
  scratch=$(mktemp -d)
  for run in "${runs[@]}"; do
    git clone -q --no-checkout "$root" "$scratch/${run%%:*}"
    git -C "$scratch/${run%%:*}" checkout -q --detach "$commit"
    TZ=${run#*:} bash "$scratch/${run%%:*}/scripts/release.sh"
  done
  for file in "${outputs[@]}"; do
    cmp "$scratch/a/$file" "$scratch/second/clone b/$file"
  done
  echo "release.sh --check: both releases of $commit are identical, byte for byte"
}

build() { # preset
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)"
}

# One folder as the archive holds it: program, guide, license (and the
# notices of what the program carries), every file with the commit's time.
stage() { # folder program line-end [notices...]
  local dir=$1/$name
  mkdir -p "$dir"
  install -m 755 "$2" "$dir/"
  sed "s/@VERSION@/$version/; s/\$/$3/" docs/README.txt >"$dir/README.txt"
  cat LICENSE "${@:4}" | sed "s/\$/$3/" >"$dir/LICENSE.txt"
  chmod 644 "$dir"/*.txt
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

package() {
  scratch=$(mktemp -d)
  rm -rf dist
  mkdir dist
  stage "$scratch/win32" build/release-windows/larkspire_decompress.exe '\r' \
    docs/notices-windows.txt
  # zip stores local time: in UTC it is the commit's time everywhere. -X
  # leaves out owners and extra time stamps; the members go in this order.
  (cd "$scratch/win32" && TZ=UTC zip -q -X "$root/dist/$name-win32.zip" "$name/" \
    "$name/larkspire_decompress.exe" "$name/README.txt" "$name/LICENSE.txt")
  stage "$scratch/linux" build/release-linux/larkspire_decompress ''
  tar -C "$scratch/linux" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 \
    --group=0 --numeric-owner -cf - "$name" | gzip -9 -n >"dist/$name-linux-x86_64.tar.gz"
  (cd dist && sha256sum "$name-win32.zip" "$name-linux-x86_64.tar.gz" >SHA256SUMS)
}

case "${1:-}" in
  --version) echo "$version"; exit 0 ;;
  --check) bash scripts/setup.sh; check; exit 0 ;;
  "") ;;
  *) echo "usage: release.sh [--check | --version]" >&2; exit 2 ;;
esac

bash scripts/setup.sh
git diff --quiet HEAD -- || echo "release.sh: the working tree differs from" \
  "$(git rev-parse --short HEAD); this release is not that commit's" >&2
umask 022
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH LC_ALL=C
build release-windows
build release-linux
package
echo "Built with:"
dpkg-query -W -f='  ${Package} ${Version}\n' "${packages[@]}"
echo "dist/:"
(cd dist && ls -l -- *.zip *.tar.gz && cat SHA256SUMS)
