#!/usr/bin/env bash
# Makes the release packages of this checkout into OUT_DIR (default
# build/packages): VYK_UU-<version>-win32.zip and vykuu_<version>_<arch>.deb,
# built without tests or benchmarks (presets release-win32, release-host),
# and SHA256SUMS of both. The Windows files are signed with VYK_SIGN_CERT and
# VYK_SIGN_KEY when they are set at the build's first configure, otherwise
# with the build's test certificate, which is no release's. The maintainer
# they name is VYK_MAINTAINER ("Name <address>") from the environment.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mkdir -p "${1:-build/packages}" && cd "${1:-build/packages}" && pwd)

# VYK_SETUP_DONE: the caller ran scripts/setup.sh already.
[ -n "${VYK_SETUP_DONE:-}" ] || scripts/setup.sh
for preset in release-win32 release-host; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

rm -f -- "$out"/VYK_UU-*-win32.zip "$out"/vykuu_*.deb "$out/SHA256SUMS"
cp -- build/release-win32/VYK_UU-*-win32.zip build/release-host/vykuu_*.deb "$out/"
(cd "$out" && LC_ALL=C sha256sum -- VYK_UU-*-win32.zip vykuu_*.deb >SHA256SUMS)
echo "package: in $out"
cert=$(sed -n 's/^VYK_SIGN_CERT:FILEPATH=//p' build/release-win32/CMakeCache.txt)
if [ -z "$cert" ] && grep -q '^VYK_SIGN:BOOL=ON' build/release-win32/CMakeCache.txt; then
  echo "package: the Windows files are signed with this build's TEST certificate" \
       "(build/release-win32/signing/vyk-test-cert.pem), not for release: set VYK_SIGN_CERT and VYK_SIGN_KEY" \
       "and build in a fresh folder"
fi
if ! grep -q '^VYK_MAINTAINER:STRING=.' build/release-host/CMakeCache.txt; then
  echo "package: the maintainer is NOT SET: the .deb and README.txt name" \
       "\"$(cd "$out" && dpkg-deb -f vykuu_*.deb Maintainer)\"; set VYK_MAINTAINER=\"Name <address>\" and run again"
fi
(cd "$out" && stat -c '  %n  %s bytes' -- VYK_UU-*-win32.zip vykuu_*.deb && sed 's/^/  /' SHA256SUMS)
