#!/usr/bin/env bash
# Checks dist/ as the person who downloads it would find it: SHA256SUMS
# verifies both archives; each holds one folder with exactly the program,
# README.txt and LICENSE.txt (CR LF in the zip); the .exe imports only the
# system DLLs docs/imports.txt lists and carries its version record and icon;
# README.txt asks for the glibc the Linux program needs; the Linux program
# decodes the demo folder on a private X server.
set -euo pipefail
cd "$(dirname "$0")/.."
name=larkspire_decompress-$(bash scripts/release.sh --version)
zip=dist/$name-win32.zip tarball=dist/$name-linux-x86_64.tar.gz
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-release.sh: $*" >&2; exit 1; }

(cd dist && sha256sum --strict --quiet -c SHA256SUMS)

holds() { # listing program
  local want
  want=$(printf "$name/%s\n" "" "$2" LICENSE.txt README.txt | sort)
  [ "$(sort <<<"$1")" = "$want" ] || fail "expected $want, found: $1"
}
holds "$(unzip -Z1 "$zip")" larkspire_decompress.exe
holds "$(tar -tzf "$tarball")" larkspire_decompress
unzip -q -d "$scratch/zip" "$zip"
tar -C "$scratch" -xzf "$tarball"
for text in "$scratch/zip/$name"/*.txt; do
  ! grep -q -v $'\r$' "$text" || fail "$text has a line not ending in CR LF"
done

# The glibc README.txt asks for is the newest symbol version the program uses.
glibc=$(objdump -T "$scratch/$name/larkspire_decompress" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -n 1)
grep -q "glibc ${glibc#GLIBC_} or later" "$scratch/$name/README.txt" ||
  fail "README.txt must ask for glibc ${glibc#GLIBC_}, the newest the program needs"

exe=$scratch/zip/$name/larkspire_decompress.exe
allowed=$(grep -v '^#' docs/imports.txt | tr '\n' ' ')
for dll in $(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p'); do
  dll=${dll%.*}
  [[ " ${allowed,,} " == *" ${dll,,} "* ]] || fail "the .exe imports $dll, not in docs/imports.txt"
done
resources=$(i686-w64-mingw32-windres -i "$exe" -O rc)
grep -q "VALUE \"FileVersion\", \"${name#*-}\"" <<<"$resources" || fail "no version record"
grep -q RT_GROUP_ICON <<<"$resources" || fail "no icon"

env -u DISPLAY bash scripts/demo.sh "$scratch/$name/larkspire_decompress"
