#!/usr/bin/env bash
# Checks that the release packages are reproducible: builds them twice
# (scripts/package.sh, no tests or benchmarks) from two copies of this
# checkout in two folders of different depth, one after the other, under
# different time zones, locales and umasks, and compares them bit for bit.
# Both sign the Windows files with one key: VYK_SIGN_CERT and VYK_SIGN_KEY
# when set, else the test certificate the first build makes, which the
# second is given. Uncommitted changes travel along in both copies. On a
# difference diffoscope names it, in build/repro/diffoscope-NAME.txt; the
# copies stay for a look. Prints how long each build took.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/setup.sh
export VYK_SETUP_DONE=1

base=$root/build/repro
rm -rf "$base"
mkdir -p "$base"
sha=$(git rev-parse HEAD)

copy() { # DEST: a clone at HEAD with this checkout's uncommitted changes
  local dest=$1
  mkdir -p "$(dirname "$dest")"
  git clone -q --no-checkout "$root" "$dest"
  git -C "$dest" checkout -q --detach "$sha"
  git diff --binary HEAD | git -C "$dest" apply --allow-empty --whitespace=nowarn
  git ls-files -z --others --exclude-standard | xargs -0 -r cp --parents -t "$dest"
}

build() { # NAME DEST OUT ENV...: scripts/package.sh in DEST under ENV
  local name=$1 dest=$2 out=$3
  shift 3
  local start=$SECONDS
  if ! (cd "$dest" && env "$@" scripts/package.sh "$out") >"$base/build-$name.log" 2>&1; then
    tail -n 30 "$base/build-$name.log" >&2
    echo "repro: build $name failed (whole output in $base/build-$name.log)" >&2
    echo "repro: 0 passed, 1 failed"
    exit 1
  fi
  echo "repro: build $name in $dest: $((SECONDS - start)) s"
}

total=$SECONDS
copy "$base/a/src"
copy "$base/second/copy/of/src"
(umask 022 && build one "$base/a/src" "$base/out-one" TZ=UTC LC_ALL=C.UTF-8)
if [ -z "${VYK_SIGN_CERT:-}" ]; then
  test_cert=$base/a/src/build/release-win32/signing
  if [ -f "$test_cert/vyk-test-cert.pem" ]; then
    export VYK_SIGN_CERT=$test_cert/vyk-test-cert.pem VYK_SIGN_KEY=$test_cert/vyk-test-key.pem
  fi
fi
(umask 077 && build two "$base/second/copy/of/src" "$base/out-two" TZ=Pacific/Kiritimati LC_ALL=C)

passed=0 failed=0
one=$(cd "$base/out-one" && ls)
two=$(cd "$base/out-two" && ls)
if [ "$one" != "$two" ]; then
  echo "repro: the builds made different files: [$(echo $one)] and [$(echo $two)]" >&2
  failed=$((failed + 1))
fi
for name in $one; do
  [ "$name" != SHA256SUMS ] || continue
  [ -f "$base/out-two/$name" ] || continue
  if cmp -s "$base/out-one/$name" "$base/out-two/$name"; then
    echo "repro: $name identical ($(stat -c %s "$base/out-one/$name") bytes, sha256 $(sha256sum <"$base/out-one/$name" | cut -c1-16)...)"
    passed=$((passed + 1))
  else
    echo "repro: $name DIFFERS; diffoscope says:" >&2
    diffoscope --text "$base/diffoscope-$name.txt" "$base/out-one/$name" "$base/out-two/$name" >/dev/null 2>&1 || true
    head -n 60 "$base/diffoscope-$name.txt" >&2
    failed=$((failed + 1))
  fi
done
echo "repro: whole check $((SECONDS - total)) s"
[ "$failed" -gt 0 ] || rm -rf "$base/a" "$base/second"
echo "repro: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
