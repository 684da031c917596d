#!/usr/bin/env bash
# check_zip.sh ZIP VERSION EPOCH MAINTAINER README LICENSE NOTICES GUIDE_MD VYK_UU.exe vykuu.exe
# The Windows package as a user gets it: exactly its seven files, dated the
# commit; SHA256SUMS names the other six and their sums hold; the programs
# are the built ones; the README (naming MAINTAINER), the licence and the
# notices are the project's with Windows line ends; the guide shows every
# picture of GUIDE_MD from inside itself and no other; vykuu.exe run under
# Wine from the unpacked folder tells the version.
set -uo pipefail
zip=$1 version=$2 epoch=$3 maintainer=$4 readme=$5 license=$6 notices=$7 guide_md=$8 app=$9 tool=${10}
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
[ -f "$zip" ] || { echo "FAIL: no $zip: build the win32 preset first" >&2; exit 1; }
export TZ=UTC LC_ALL=C

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ "$(basename "$zip")" = "VYK_UU-$version-win32.zip" ] || fail "file name $(basename "$zip")"

# Listing: names in this order, no folders, each dated the commit.
names=$(zipinfo -1 "$zip")
[ "$names" = "GUIDE.html
LICENSE.txt
README.txt
SHA256SUMS
THIRD-PARTY-NOTICES.txt
VYK_UU.exe
vykuu.exe" ] || fail "members: $(echo $names)"
stamp=$(date -u -d "@$epoch" +%Y%m%d.%H%M%S)
# zip keeps times to two seconds, rounding odd ones up.
stamp2=$(date -u -d "@$((epoch + epoch % 2))" +%Y%m%d.%H%M%S)
zipinfo -T "$zip" | awk '$1 ~ /^[-d]/ { print $7, $8 }' | while read -r time name; do
  [ "$time" = "$stamp" ] || [ "$time" = "$stamp2" ] || echo "$name $time"
done | grep -q . && fail "members not dated $stamp: $(zipinfo -T "$zip")"

unzip -q "$zip" -d "$work/VYK_UU" || fail "unzip failed"
cd "$work/VYK_UU" || exit 1
[ "$(awk '{ print $2 }' SHA256SUMS | tr '\n' ' ')" = "GUIDE.html LICENSE.txt README.txt THIRD-PARTY-NOTICES.txt VYK_UU.exe vykuu.exe " ] ||
  fail "SHA256SUMS names: $(awk '{ print $2 }' SHA256SUMS | tr '\n' ' ')"
sha256sum --quiet --strict -c SHA256SUMS || fail "SHA256SUMS does not hold"
cmp -s VYK_UU.exe "$app" || fail "VYK_UU.exe is not the built one"
cmp -s vykuu.exe "$tool" || fail "vykuu.exe is not the built one"
crlf() { sed 's/$/\r/' "$@"; }
M=$maintainer awk '/^Maintainer: / { print "Maintainer: " ENVIRON["M"]; next } { print }' "$readme" | crlf |
  cmp -s - README.txt || fail "README.txt is not README.md naming $maintainer, with CR LF line ends"
grep -qxF "Maintainer: $maintainer"$'\r' README.txt || fail "README.txt does not name the maintainer $maintainer"
crlf "$license" | cmp -s - LICENSE.txt || fail "LICENSE.txt is not LICENSE with CR LF line ends"
crlf "$notices" | cmp -s - THIRD-PARTY-NOTICES.txt || fail "THIRD-PARTY-NOTICES.txt is not the build's notices with CR LF line ends"

# The guide needs nothing beside it: each picture of guide.md inside it, as
# often as guide.md shows it; every picture of docs/guide/ shown.
shown=$(grep -oE '!\[[^]]*\]\([^)]+\)' "$guide_md" | sed 's/.*(\(.*\))/\1/')
[ "$(grep -o '<img src="data:image/png;base64,' GUIDE.html | wc -l)" -eq "$(grep -c . <<<"$shown")" ] ||
  fail "GUIDE.html embeds not every picture guide.md shows"
outside=$(grep -oE '(src|href)="[^"]*"' GUIDE.html | grep -vE '^(src="data:|href="#)' | cut -c1-80)
[ -z "$outside" ] || fail "GUIDE.html refers to what is outside it: $outside"
for picture in "$(dirname "$guide_md")"/guide/*.png; do
  grep -qxF "guide/$(basename "$picture")" <<<"$shown" || fail "guide.md shows no $picture"
done
for anchor in $(grep -oE 'href="#[^"]*"' GUIDE.html | sed -e 's/^href="#//' -e 's/"$//' | sort -u); do
  grep -qF "id=\"$anchor\"" GUIDE.html || fail "GUIDE.html links to #$anchor, which no heading is"
done
grep -q '<title>' GUIDE.html || fail "GUIDE.html has no title"

# Run from the unpacked folder, as from a service stick.
out=$(wine ./vykuu.exe --version 2>/dev/null </dev/null)
rc=$?
out=${out%$'\r'}
[ "$rc" -eq 0 ] || fail "vykuu.exe --version: exit $rc"
[ "$out" = "vykuu $version" ] || fail "vykuu.exe --version says \"$out\""

if [ "$failures" -gt 0 ]; then
  echo "check_zip: $failures failures" >&2
  exit 1
fi
echo "check_zip: $(basename "$zip") ($(stat -c %s "$zip") bytes) passed"
