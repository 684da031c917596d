#!/usr/bin/env bash
# check_deb.sh DEB VERSION EPOCH MAINTAINER LICENSE
# The Debian package as a user gets it: lintian finds no error; its files,
# owners, permissions and dates are the expected ones; MAINTAINER maintains
# it; its copyright file, in the machine-readable format, gives LICENSE as
# the project's and one stanza to each licence; its Depends names
# the package of every library the tools load; the tools run from a
# temporary root; its bash completion offers every option and setting the
# tools have.
set -uo pipefail
deb=$1 version=$2 epoch=$3 maintainer=$4 license=$5
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
[ -f "$deb" ] || { echo "FAIL: no $deb: build the host preset first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# lintian: no error; its warnings and notes are shown.
lint=$(lintian --fail-on error "$deb" 2>&1)
rc=$?
lint=$(grep -v 'running with root privileges' <<<"$lint")
[ "$rc" -eq 0 ] || fail "lintian (exit $rc): $lint"
[ -z "$lint" ] || echo "lintian: $lint"

[ "$(dpkg-deb -f "$deb" Package)" = vykuu ] || fail "package name $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), expected $version"
case $(basename "$deb") in
  "vykuu_${version}_$(dpkg --print-architecture).deb") ;;
  *) fail "file name $(basename "$deb")" ;;
esac

# Listing: exactly these files, owned by root, dated the commit.
expected="-rwxr-xr-x ./usr/bin/vyksimctl
-rwxr-xr-x ./usr/bin/vykuu
-rw-r--r-- ./usr/share/bash-completion/completions/vyksimctl
-rw-r--r-- ./usr/share/bash-completion/completions/vykuu
-rw-r--r-- ./usr/share/doc/vykuu/THIRD-PARTY-NOTICES.txt.gz
-rw-r--r-- ./usr/share/doc/vykuu/changelog.gz
-rw-r--r-- ./usr/share/doc/vykuu/copyright
-rw-r--r-- ./usr/share/man/man1/vyksimctl.1.gz
-rw-r--r-- ./usr/share/man/man1/vykuu.1.gz"
listing=$(dpkg-deb --fsys-tarfile "$deb" | tar -tv --numeric-owner --full-time)
got=$(awk '$1 !~ /^d/ { print $1, $6 }' <<<"$listing" | sort -k2)
[ "$got" = "$expected" ] || fail "payload listing:
$got
expected:
$expected"
awk '$2 != "0/0"' <<<"$listing" | grep -q . && fail "members not owned by root: $(awk '$2 != "0/0"' <<<"$listing")"
date=$(TZ=UTC date -d "@$epoch" '+%F %T')
TZ=UTC dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv --full-time | grep -v -F " $date " | grep -q . &&
  fail "members not dated $date"

[ "$(dpkg-deb -f "$deb" Maintainer)" = "$maintainer" ] || fail "Maintainer $(dpkg-deb -f "$deb" Maintainer), expected $maintainer"

# The copyright file: the project's licence as LICENSE has it, each licence
# a Files stanza names given once in a stanza of its own.
dpkg-deb -x "$deb" "$work/root" || fail "cannot extract"
copyright=$work/root/usr/share/doc/vykuu/copyright
[ "$(head -n 1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
  fail "copyright is not in the machine-readable format: $(head -n 1 "$copyright")"
grep -qxF "Upstream-Contact: $maintainer" "$copyright" || fail "copyright does not name $maintainer"
awk 'BEGIN { RS = "" } /^Files: \*\n/' "$copyright" | grep -qx 'License: Expat' || fail "copyright gives Files: * no Expat licence"
expat=$(sed -n '/^Permission is hereby granted/,$p' "$license" | sed -e 's/^$/./' -e 's/^/ /')
[ "$(awk 'BEGIN { RS = "" } /^License: Expat\n/' "$copyright" | sed 1d)" = "$expat" ] ||
  fail "copyright's Expat text is not LICENSE's"
for name in $(awk 'BEGIN { RS = "" } /^Files: / { if (match($0, /\nLicense: [^\n]*/)) print substr($0, RSTART + 10, RLENGTH - 10) }' "$copyright" | sort -u); do
  stanzas=$(awk -v n="License: $name" 'BEGIN { RS = "" } index($0, n "\n") == 1 { c++ } END { print c + 0 }' "$copyright")
  [ "$stanzas" -eq 1 ] || fail "copyright gives the licence $name $stanzas stanzas of text, not one"
done
zcat "$work/root/usr/share/doc/vykuu/changelog.gz" | grep -qF -- " -- $maintainer  " || fail "the changelog is not signed by $maintainer"

# Depends: every library the tools load comes from a package it names.
depends=$(dpkg-deb -f "$deb" Depends)
names=" $(sed -e 's/([^)]*)//g' -e 's/[,|]/ /g' <<<"$depends" | tr -s ' ') "
for bin in "$work"/root/usr/bin/*; do
  for lib in $(objdump -p "$bin" | awk '$1 == "NEEDED" { print $2 }'); do
    path=$(ldconfig -p | awk -v l="$lib" '$1 == l && /x86-64/ { print $NF; exit }')
    pkg=$( (dpkg -S "$path" || dpkg -S "$(readlink -f "$path")") 2>/dev/null | head -n 1 | cut -d: -f1)
    [ -n "$pkg" ] || { fail "$(basename "$bin"): no package holds $lib"; continue; }
    [[ $names == *" $pkg "* ]] || fail "$(basename "$bin") loads $lib of $pkg, which Depends ($depends) leaves out"
  done
done

# The tools run from the temporary root.
bin=$work/root/usr/bin
out=$("$bin/vykuu" --version 2>&1) || fail "vykuu --version: exit $?"
[ "$out" = "vykuu $version" ] || fail "vykuu --version says \"$out\""
out=$("$bin/vyksimctl" --version 2>&1) || fail "vyksimctl --version: exit $?"
[ "$out" = "vyksimctl $version" ] || fail "vyksimctl --version says \"$out\""
"$bin/vyksimctl" init "$work/nb" >/dev/null || fail "vyksimctl init: exit $?"
"$bin/vyksimctl" set "$work/nb" port2_version="01 02 03 04 05 06 07 08" || fail "vyksimctl set: exit $?"
out=$("$bin/vykuu" --sim "$work/nb" --quiet version --port 2 2>&1) || fail "vykuu version: exit $?"
grep -q "01 02 03 04 05 06 07 08" <<<"$out" || fail "vykuu version shows \"$out\""
head -c 4096 /dev/urandom >"$work/image.bin"
"$bin/vykuu" --sim "$work/nb" --quiet flash --port 1 --allow-low-range --start 0 --end 1000 "$work/image.bin" ||
  fail "vykuu flash: exit $?"
"$bin/vyksimctl" dump "$work/nb" 1 0 1000 "$work/back.bin" >/dev/null || fail "vyksimctl dump: exit $?"
cmp -s "$work/image.bin" "$work/back.bin" || fail "flashed bytes differ from the image"

# Bash completion, as bash-completion loads it.
complete_words() { # completion-file words... -> what <TAB> offers after the last word
  local file=$1
  shift
  bash -c '
    . /usr/share/bash-completion/bash_completion
    . "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _${1} "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$file" "$@" 2>/dev/null | sort | tr '\n' ' ' | sed 's/ $//'
}
comp=$work/root/usr/share/bash-completion/completions
check_completion() { # expected words...
  local expected=$1
  shift
  local got
  got=$(complete_words "$@")
  [ "$got" = "$expected" ] || fail "completion of \"${*:2}\": \"$got\", expected \"$expected\""
}
check_completion "read reset" "$comp/vykuu" vykuu re
check_completion "1 2" "$comp/vykuu" vykuu read --port ""
check_completion "--no-progress --no-verify" "$comp/vykuu" vykuu --sim nb flash --no
check_completion "flash" "$comp/vykuu" vykuu --timeout 3 --sim nb fl
check_completion "stuck_busy= stuck_busy_after_blocks=" "$comp/vyksimctl" vyksimctl set nb stuck
check_completion "no yes" "$comp/vyksimctl" vyksimctl set nb stuck_busy=
check_completion "1 2" "$comp/vyksimctl" vyksimctl dump nb ""
check_completion "flash" "$comp/vykuu" vykuu help f

# Every long option of every vykuu command, and every setting of a fresh
# notebook, is offered.
for command in "" version read flash reset; do
  # shellcheck disable=SC2086
  options=$("$bin/vykuu" $command --help 2>&1 | grep -E '^ +-' | grep -oE -- '--[a-z][a-z-]+' | sort -u)
  offered=" $(complete_words "$comp/vykuu" vykuu $command --) "
  for option in $options; do
    case $option in --port-library) continue ;; esac
    [[ $offered == *" $option "* ]] || fail "completion of \"vykuu $command --\" leaves out $option"
  done
done
offered=" $(complete_words "$comp/vyksimctl" vyksimctl set nb "") "
for key in $(sed -n 's/^\([a-z0-9_]*\) *=.*/\1/p' "$work/nb/settings.txt"); do
  [[ $offered == *" $key= "* ]] || fail "completion of \"vyksimctl set DIR\" leaves out $key"
done

if [ "$failures" -gt 0 ]; then
  echo "check_deb: $failures failures" >&2
  exit 1
fi
echo "check_deb: $(basename "$deb") ($(stat -c %s "$deb") bytes) passed"
