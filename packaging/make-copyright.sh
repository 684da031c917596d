#!/usr/bin/env bash
# make-copyright.sh OUT MAINTAINER LICENSE COMPONENT...
# The .deb's copyright file in Debian's machine-readable format: this
# project's code under the MIT licence (Expat, its text and copyright line
# taken from LICENSE), then one stanza for each COMPONENT compiled into the
# tools, given as "Files pattern|comment|debian-package": its copyright and
# licence as that package's own machine-readable copyright file states them
# for its "Files: *", read at build time. Each licence text stands once.
set -euo pipefail
out=$1 maintainer=$2 license=$3
shift 3
export LC_ALL=C

# Field FIELD of the first paragraph of FILE whose FIRST field is VALUE,
# continuation lines included (FIELD "" gives the whole paragraph).
paragraph_field() { # FILE FIRST VALUE FIELD
  awk -v first="$2" -v value="$3" -v field="$4" '
    function flush() { if (match_ && !done) { printf "%s", text; done = 1 } text = ""; match_ = 0; n = 0; take = 0 }
    /^[ \t]*$/ { flush(); next }
    {
      n++
      if (n == 1 && index($0, first ": ") == 1 && substr($0, length(first) + 3) == value) match_ = 1
      if ($0 !~ /^[ \t]/) take = (field == "" || index($0, field ":") == 1)
      if (take) text = text $0 "\n"
    }
    END { flush() }' "$1"
}

{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: VYK_UU"
  echo "Upstream-Contact: $maintainer"
  echo "Comment: The notices of the other code the tools contain (the GNU C"
  echo " Library's and GCC's start-up files and headers among it) are in"
  echo " THIRD-PARTY-NOTICES.txt.gz beside this file, with their licence texts."
  echo
  echo "Files: *"
  sed -n 's/^Copyright (c) /Copyright: /p' "$license"
  echo "License: Expat"
  licences="Expat"
  for component in "$@"; do
    IFS='|' read -r files comment package <<<"$component"
    source=/usr/share/doc/$package/copyright
    head -n 1 "$source" | grep -q '^Format: .*copyright-format' ||
      { echo "make-copyright: $source is not in the machine-readable format" >&2; exit 1; }
    copyright=$(paragraph_field "$source" Files '*' Copyright)
    name=$(paragraph_field "$source" Files '*' License | sed -n '1s/^License: //p')
    [ -n "$copyright" ] && [ -n "$name" ] ||
      { echo "make-copyright: $source has no copyright or licence for Files: *" >&2; exit 1; }
    echo
    echo "Files: $files"
    echo "$copyright"
    echo "License: $name"
    echo "Comment: $comment, Debian package $package $(dpkg-query -W -f='${Version}' "$package")." |
      fold -s -w 72 | sed -e 's/ *$//' -e '2,$s/^/ /'
    [[ " $licences " == *" $name:"* ]] || licences+=" $name:$package"
  done
  echo
  echo "License: Expat"
  sed -n '/^Permission is hereby granted/,$p' "$license" | sed -e 's/^$/./' -e 's/^/ /'
  for entry in $licences; do
    [ "$entry" != Expat ] || continue
    name=${entry%%:*} package=${entry#*:}
    text=$(paragraph_field "/usr/share/doc/$package/copyright" License "$name" "")
    [ -n "$text" ] || { echo "make-copyright: no text of the licence $name in $package's copyright file" >&2; exit 1; }
    echo
    printf '%s' "$text"
  done
} >"$out.tmp"
mv -- "$out.tmp" "$out"
