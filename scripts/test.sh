#!/usr/bin/env bash
# The one command that runs every test: installs what is missing, builds
# the three presets, runs the host tests, then the tests of the Windows
# files under Wine, then builds the release packages twice and compares
# them.
set -euo pipefail
cd "$(dirname "$0")/.."
VYK_ROOT=$(pwd)

scripts/setup.sh
scripts/build.sh

. scripts/wine-env.sh
vyk_start_display
trap vyk_stop_display EXIT
vyk_init_prefix

status=0
if vyk_wine32_runs; then
  ctest --preset host -j2 || status=1
  ctest --preset win32 || status=1
else
  # Said, not hidden: the tests that start a Windows file under Wine are left
  # out, every other test runs.
  echo "test: $vyk_no_wine32_text: the tests labelled e2e and wine are skipped here" >&2
  ctest --preset host -j2 -LE e2e || status=1
  ctest --preset win32 -LE wine || status=1
  count() { ctest --preset "$1" -N -L "$2" | sed -n 's/^Total Tests: //p'; }
  echo "test: skipped on this machine: $(count host e2e) e2e tests and $(count win32 wine) wine tests" >&2
fi
scripts/repro-check.sh || status=1
exit $status
