#!/usr/bin/env bash
# The tests of the Windows files under Wine, on a display of their own: what
# a planted fault in portlib/ or the Win32 face is judged by.
set -uo pipefail
cd "$(dirname "$0")/../.."
VYK_ROOT=$(pwd)
. scripts/wine-env.sh
vyk_start_display || exit 1
trap vyk_stop_display EXIT
vyk_init_prefix
ctest --test-dir build/win32 --timeout 300
