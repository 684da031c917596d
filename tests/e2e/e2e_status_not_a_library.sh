#!/usr/bin/env bash
# An "io.dll" that is no library: left untouched, "IO NG2" in panel 2,
# panels 3 to 6 empty, date and time in panels 0 and 1. An image still
# loads, but "Flash Go" and "Read FW" each say that nothing was done and
# claim no completion, and "Save Bin File" stays off: no zeros to save.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

dir=$(e2e_new_folder app)
printf 'not a library\r\n' >"$dir/io.dll"
touch -d '2020-01-02 03:04:05' "$dir/io.dll"
before=$(stat -c '%s %Y' "$dir/io.dll"; sha256sum <"$dir/io.dll")
e2e_start "$dir"
panels=$(probe panels)
echo "$panels"
e2e_shot "io-ng2"
e2e_expect "panel 2" "$(e2e_panel "$panels" 2)" "IO NG2"
for n in 3 4 5 6; do e2e_expect "panel $n" "$(e2e_panel "$panels" $n)" ""; done
[[ $(e2e_panel "$panels" 0) =~ ^$E2E_DATE_RE$ ]] || e2e_fail "panel 0 is no date"
[[ $(e2e_panel "$panels" 1) =~ ^$E2E_TIME_RE$ ]] || e2e_fail "panel 1 is no time"

head -c 4096 /dev/urandom >"$dir/image.bin"
e2e_load_image "$dir/image.bin"
probe click "Flash Go" || e2e_fail "cannot press Flash Go"
line=$(probe wait-log "Flash write: " 10) || e2e_fail "Flash Go said nothing"
e2e_expect "Flash Go without port access" "$line" "Flash write: nothing flashed, the port library has no access (IO NG2)"
probe wait-enabled "Read FW" 10 || e2e_fail "the controls did not come back after Flash Go"
probe click "Read FW" || e2e_fail "cannot press Read FW"
line=$(probe wait-log "Read FW: " 10) || e2e_fail "Read FW said nothing"
e2e_expect "Read FW without port access" "$line" "Read FW: nothing read, the port library has no access (IO NG2)"
probe wait-enabled "Read FW" 10 || e2e_fail "the controls did not come back after Read FW"
e2e_shot "io-ng2-sequences"
log=$(probe log)
grep -q "Completed!" <<<"$log" && e2e_fail "a sequence without port access claims to have completed: $log"
e2e_expect "Flash Go afterwards" "$(probe enabled "Flash Go")" 1
e2e_expect "Save Bin File afterwards" "$(probe enabled "Save Bin File")" 0
probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0
[ "$before" = "$(stat -c '%s %Y' "$dir/io.dll"; sha256sum <"$dir/io.dll")" ] || e2e_fail "io.dll was changed"
e2e_log "PASS"
