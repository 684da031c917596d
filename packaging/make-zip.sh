#!/usr/bin/env bash
# make-zip.sh ZIP EPOCH MAINTAINER README LICENSE NOTICES GUIDE FILE...
# The Windows package: the FILEs; the README as README.txt, its
# "Maintainer:" line naming MAINTAINER; LICENSE as LICENSE.txt; NOTICES as
# THIRD-PARTY-NOTICES.txt (these three with Windows line ends); GUIDE as
# GUIDE.html; and SHA256SUMS of them all ("sha256sum -c SHA256SUMS" checks
# them). Every member is dated EPOCH (in UTC: zip keeps local times), has
# fixed permissions and no owner, and they stand in byte order of their
# names, so two builds of one commit give the same zip.
set -euo pipefail
zip=$1 epoch=$2 maintainer=$3 readme=$4 license=$5 notices=$6 guide=$7
shift 7
export LC_ALL=C TZ=UTC
stage=$(mktemp -d "$zip.XXXXXX")
trap 'rm -rf "$stage"' EXIT

for f in "$@"; do
  cp -- "$f" "$stage/"
  chmod 0755 "$stage/$(basename "$f")"
done
[ "$(grep -c '^Maintainer: ' "$readme")" -eq 1 ] ||
  { echo "make-zip: $readme must have one line that begins \"Maintainer: \"" >&2; exit 1; }
# The name goes in as it is (through the environment: no escapes).
M=$maintainer awk '/^Maintainer: / { print "Maintainer: " ENVIRON["M"]; next } { print }' "$readme" |
  sed 's/\r*$/\r/' >"$stage/README.txt"
sed 's/\r*$/\r/' "$license" >"$stage/LICENSE.txt"
sed 's/\r*$/\r/' "$notices" >"$stage/THIRD-PARTY-NOTICES.txt"
cp -- "$guide" "$stage/GUIDE.html"
chmod 0644 "$stage"/*.txt "$stage/GUIDE.html"
(cd "$stage" && sha256sum -- * >SHA256SUMS)
chmod 0644 "$stage/SHA256SUMS"
touch -d "@$epoch" "$stage"/*

# Packages of earlier versions in the same folder go: one build, one zip.
rm -f -- "$(dirname "$zip")"/VYK_UU-*-win32.zip "$zip.tmp"
(cd "$stage" && ls | zip -q -X -D -9 -@ "$zip.tmp")
mv -- "$zip.tmp" "$zip"
