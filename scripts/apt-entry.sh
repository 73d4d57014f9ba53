#!/usr/bin/env bash
# Writes an apt source entry for another type or suite of this machine's
# Debian release, copied from the release's own entry in the machine's apt
# sources: the same archive, options and keys, whichever archive that is.
#
# Usage: scripts/apt-entry.sh TYPE SUFFIX STEM
#   TYPE    deb or deb-src
#   SUFFIX  appended to the release's suite: "-backports", or "" for itself
# Writes STEM.sources (from a deb822 stanza) or STEM.list (from a one-line
# entry) and prints its path. The release's own entry is the first of type
# deb for its suite (bookworm, not bookworm-security or bookworm-updates)
# with the main component.
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 TYPE SUFFIX STEM" >&2
  exit 2
fi
type=$1 suffix=$2 stem=$3
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[[ -n "$release" ]] || { echo "$0: no VERSION_CODENAME in /etc/os-release" >&2; exit 1; }

# The one-line format: "deb [options] URI SUITE COMPONENT...".
one_line() {
  awk -v type="$type" -v release="$release" -v suite="$release$suffix" '
    { sub(/#.*/, "") }
    $1 == "deb" {
      options = ""
      if (match($0, /\[[^]]*\]/)) { options = substr($0, RSTART, RLENGTH) " "; sub(/\[[^]]*\]/, "") }
      components = ""; main = 0
      for (i = 4; i <= NF; i++) { components = components " " $i; main = main || $i == "main" }
      if ($3 != release || !main) next
      print type " " options $2 " " suite components; exit
    }' "$@"
}

# deb822 stanzas: the first that matches, with its Types and Suites replaced
# (and their continuation lines dropped) and its comments left out.
stanza() {
  awk -v type="$type" -v release="$release" -v suite="$release$suffix" '
    function words(field) { s = " " tolower(value[field]) " "; gsub(/\t/, " ", s); return s }
    function flush() {
      if (n && index(words("types"), " deb ") && index(words("suites"), " " release " ") &&
          index(words("components"), " main ") && !index(words("enabled"), " no ")) {
        for (i = 1; i <= n; i++) print line[i]; found = 1; exit
      }
      n = 0; split("", value)
    }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ { value[field] = value[field] " " $0; if (!skip) line[++n] = $0; next }
    {
      field = tolower(substr($0, 1, index($0, ":") - 1))
      value[field] = substr($0, index($0, ":") + 1)
      skip = field == "types" || field == "suites"
      line[++n] = field == "types" ? "Types: " type : field == "suites" ? "Suites: " suite : $0
    }
    END { if (!found) flush() }' "$1"
}

shopt -s nullglob
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*; do
  [[ -f "$file" ]] || continue
  case $file in
    *.sources) entry=$(stanza "$file") extension=sources ;;
    *.list) entry=$(one_line "$file") extension=list ;;
    *) continue ;;
  esac
  if [[ -n "$entry" ]]; then
    printf '%s\n' "$entry" >"$stem.$extension"
    echo "$stem.$extension"
    exit 0
  fi
done
echo "$0: no apt source of type deb for $release (main) on this machine" >&2
exit 1
