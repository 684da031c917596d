#!/usr/bin/env bash
# Makes the release packages of this checkout into OUT_DIR (default
# build/packages): VYK_UU-<version>-win32.zip and vykuu_<version>_<arch>.deb,
# built without tests or benchmarks (presets release-win32, release-host),
# and SHA256SUMS of both.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mkdir -p "${1:-build/packages}" && cd "${1:-build/packages}" && pwd)

scripts/setup.sh
for preset in release-win32 release-host; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

rm -f -- "$out"/VYK_UU-*-win32.zip "$out"/vykuu_*.deb "$out/SHA256SUMS"
cp -- build/release-win32/VYK_UU-*-win32.zip build/release-host/vykuu_*.deb "$out/"
(cd "$out" && LC_ALL=C sha256sum -- VYK_UU-*-win32.zip vykuu_*.deb >SHA256SUMS)
echo "package: in $out"
(cd "$out" && stat -c '  %n  %s bytes' -- VYK_UU-*-win32.zip vykuu_*.deb && sed 's/^/  /' SHA256SUMS)
