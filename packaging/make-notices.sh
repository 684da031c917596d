#!/usr/bin/env bash
# make-notices.sh OUT TITLE COMPONENT...
# THIRD-PARTY-NOTICES.txt: for each COMPONENT, given as
# "Name|what of it the files hold|debian-package...", its name, that text,
# the Debian packages it comes from with their installed versions, and the
# copyright file Debian installs with them, as it stands; then every licence
# text of /usr/share/common-licenses that those files refer to. All of it is
# read from the installed packages when the package is built, so a new
# version brings its own text; a package that is not installed stops the build.
set -euo pipefail
out=$1 title=$2
shift 2
export LC_ALL=C
licenses=/usr/share/common-licenses

tmp=$(mktemp "$out.XXXXXX")
trap 'rm -f "$tmp"' EXIT
rule="========================================================================"

copyright_of() { # PACKAGE -> its copyright file
  local file=/usr/share/doc/$1/copyright
  if ! dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || [ ! -f "$file" ]; then
    echo "make-notices: the Debian package $1 (or its copyright file $file) is not installed" >&2
    exit 1
  fi
  echo "$file"
}

{
  echo "Third-party notices: $title"
  echo
  echo "Besides the code of VYK_UU itself (MIT licence, see LICENSE), the files"
  echo "of this package contain code of the components below. Each one names"
  echo "what of it the files hold, the Debian packages it was built from with"
  echo "their versions, and the copyright file Debian ships with them. The"
  echo "licence texts those files refer to follow at the end."
  echo
  n=0
  for component in "$@"; do
    n=$((n + 1))
    IFS='|' read -r name _ _ <<<"$component"
    echo "  $n. $name"
  done
  n=0
  for component in "$@"; do
    n=$((n + 1))
    IFS='|' read -r name what packages <<<"$component"
    versions=""
    for p in $packages; do
      copyright_of "$p" >/dev/null
      version=$(dpkg-query -W -f='${Version}\n' "$p" | sort -u)
      if [ "$(wc -l <<<"$version")" -ne 1 ]; then
        echo "make-notices: $p is installed in more than one version:" $version >&2
        exit 1
      fi
      versions+="${versions:+, }$p $version"
    done
    echo
    echo "$rule"
    echo "$n. $name"
    echo "$what" | fold -s -w 72 | sed 's/ *$//'
    echo "  Debian packages: $versions"
    echo "$rule"
    # Packages of one source ship the same file: it is shown once.
    shown=""
    for p in $packages; do
      file=$(copyright_of "$p")
      sum=$(sha256sum <"$file" | cut -c1-64)
      if [[ $shown == *"$sum"* ]]; then continue; fi
      shown+=" $sum"
      echo
      echo "--- $file (Debian package $p) ---"
      echo
      cat "$file"
    done
  done
} >"$tmp"

# The licence texts referred to, each once; a name that is a link (GPL ->
# GPL-3) says which text it is.
refs=$(grep -oE "$licenses/[A-Za-z0-9+-]+(\.[0-9]+)?" "$tmp" | sort -u || true)
if [ -n "$refs" ]; then
  {
    echo
    echo "$rule"
    echo "Licence texts referred to above"
    echo "$rule"
    for ref in $refs; do
      if [ -L "$ref" ]; then echo; echo "--- $ref is $(readlink -f "$ref") ---"; fi
    done
    for text in $(for ref in $refs; do readlink -f "$ref"; done | sort -u); do
      [ -f "$text" ] || { echo "make-notices: $text, referred to, is missing" >&2; exit 1; }
      echo
      echo "--- $text ---"
      echo
      cat "$text"
    done
  } >>"$tmp"
fi
chmod 0644 "$tmp"
mv -- "$tmp" "$out"
