#!/usr/bin/env bash
# A directory named "io.dll" is no file: the program cannot write its
# library, shows only "DLL NG" and never reads the clock, so the clock panels
# stay empty; "Read FW" says it read nothing and names "DLL NG".
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

dir=$(e2e_new_folder app)
mkdir "$dir/io.dll"
e2e_start "$dir"
panels=$(probe panels)
echo "$panels"
e2e_shot "dll-ng"
e2e_expect "panel 2" "$(e2e_panel "$panels" 2)" "DLL NG"
for n in 0 1 3 4 5 6; do e2e_expect "panel $n" "$(e2e_panel "$panels" $n)" ""; done
[ -d "$dir/io.dll" ] || e2e_fail "the directory io.dll is gone"

probe click "Read FW" || e2e_fail "cannot press Read FW"
probe wait-log "Read FW: " 10 >/dev/null || e2e_fail "Read FW said nothing"
e2e_expect "log" "$(probe log)" "Read FW: nothing read, the port library has no access (DLL NG)"
sleep 1.2
for n in 0 1; do e2e_expect "panel $n later" "$(e2e_panel "$(probe panels)" $n)" ""; done
probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0
e2e_log "PASS"
