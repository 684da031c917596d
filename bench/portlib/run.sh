#!/usr/bin/env bash
# Requests per EC byte and their cost through the built vykport32.dll under
# Wine's hosted 32-bit driver, in a 32-bit prefix of its own (the library
# installs its driver there). Prints figures; not a test.
#
#   bench/portlib/run.sh [EC BYTES]     (default 3000)
#
# Uses the Windows files of VYK_WIN32_BUILD_DIR (default build/win32).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VYK_WIN32_BUILD_DIR:-$root/build/win32}
export WINEPREFIX=${VYK_BENCH_WINEPREFIX:-$build/bench-portlib-wine32}
export WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
# Output through a file: a pipe would wait for Wine's services to end.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$build/bench/portlib/port_request_bench.exe" "Z:$(sed 's|/|\\|g' <<<"$build/portlib/vykport32.dll")" "$@" >"$out" 2>&1
status=$?
tr -d '\r' <"$out"
exit $status
