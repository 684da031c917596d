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
ctest --preset host -j2 || status=1
ctest --preset win32 || status=1
scripts/repro-check.sh || status=1
exit $status
