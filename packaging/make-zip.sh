#!/usr/bin/env bash
# make-zip.sh ZIP EPOCH README FILE...
# The Windows package: the FILEs, the README as README.txt with Windows line
# ends, and SHA256SUMS of them all ("sha256sum -c SHA256SUMS" checks them).
# Every member is dated EPOCH (in UTC: zip keeps local times), has fixed
# permissions and no owner, and they stand in byte order of their names, so
# two builds of one commit give the same zip.
set -euo pipefail
zip=$1 epoch=$2 readme=$3
shift 3
stage=$(mktemp -d "$zip.XXXXXX")
trap 'rm -rf "$stage"' EXIT

for f in "$@"; do
  cp -- "$f" "$stage/"
  chmod 0755 "$stage/$(basename "$f")"
done
sed 's/\r*$/\r/' "$readme" >"$stage/README.txt"
chmod 0644 "$stage/README.txt"
export LC_ALL=C TZ=UTC
(cd "$stage" && sha256sum -- * >SHA256SUMS)
chmod 0644 "$stage/SHA256SUMS"
touch -d "@$epoch" "$stage"/*

# Packages of earlier versions in the same folder go: one build, one zip.
rm -f -- "$(dirname "$zip")"/VYK_UU-*-win32.zip "$zip.tmp"
(cd "$stage" && ls | zip -q -X -D -9 -@ "$zip.tmp")
mv -- "$zip.tmp" "$zip"
