#!/usr/bin/env bash
# "io.dll" is loaded from the current folder by its full path, never through
# the library search order: with a working library planted beside the
# program and a broken "io.dll" in the current folder, the planted one must
# not be loaded ("IO NG2", not "IO.DLL").
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

sim=$(e2e_new_sim sim)
progdir=$(e2e_new_folder program)
cp "$E2E_SIMLIB" "$progdir/io.dll"
cwd="$E2E_WORK/current"
mkdir -p "$cwd"
printf 'not a library\r\n' >"$cwd/io.dll"

E2E_APP_RC_FILE="$cwd/.exit-code"
(
  cd "$cwd"
  export VYKSIM_DIR; VYKSIM_DIR=$(e2e_winpath "$sim")
  rc=0
  "$E2E_WINE" "$progdir/VYK_UU.exe" >/dev/null 2>&1 || rc=$?
  echo "$rc" >"$E2E_APP_RC_FILE"
) &
E2E_APP_PID=$!
E2E_PIDS+=("$E2E_APP_PID")
probe find 30 >/dev/null || e2e_fail "the window did not appear within 30 s"
panels=$(probe panels)
echo "$panels"
e2e_shot "planted"
e2e_expect "panel 2" "$(e2e_panel "$panels" 2)" "IO NG2"
for n in 3 4 5 6; do e2e_expect "panel $n" "$(e2e_panel "$panels" $n)" ""; done
e2e_expect "EC RAM 0x1060 (no port access, no write)" "$(e2e_byte "$sim/ecram.bin" 0x1060)" 00
probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0
e2e_log "PASS"
