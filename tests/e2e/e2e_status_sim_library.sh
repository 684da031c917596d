#!/usr/bin/env bash
# The simulator's library placed as "io.dll": an existing file, so the
# uppercase wordings; the start-up write 0x80 to 0x1060; the monitor's
# presence flag at 0xD212 and the version label; the close write of 0 to
# 0xD212. The file itself is never rewritten.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

sim=$(e2e_new_sim sim "port1_version=01 02 03 04 05 06 0A FF")
dir=$(e2e_new_folder app)
cp "$E2E_SIMLIB" "$dir/io.dll"
touch -d '2020-01-02 03:04:05' "$dir/io.dll"
before=$(stat -c '%s %Y' "$dir/io.dll"; sha256sum <"$dir/io.dll")
e2e_start "$dir" "$sim"
panels=$(probe panels)
echo "$panels"
e2e_expect "panel 2" "$(e2e_panel "$panels" 2)" "IO.DLL"
e2e_expect "panel 3" "$(e2e_panel "$panels" 3)" "004E"
e2e_expect "panel 4" "$(e2e_panel "$panels" 4)" "004F"
e2e_expect "panel 5" "$(e2e_panel "$panels" 5)" "VYK LPC EC"
e2e_expect "panel 6" "$(e2e_panel "$panels" 6)" "Open IO.DLL succeeded "
[[ $(e2e_panel "$panels" 0) =~ ^$E2E_DATE_RE$ ]] || e2e_fail "panel 0 is no date"
[[ $(e2e_panel "$panels" 1) =~ ^$E2E_TIME_RE$ ]] || e2e_fail "panel 1 is no time"
e2e_expect "EC RAM 0x1060 after start" "$(e2e_byte "$sim/ecram.bin" 0x1060)" 80

# First tick selects port 1, the second shows its version in green.
sleep 2.6
label=$(probe label)
echo "$label"
e2e_shot "running"
grep -qx 'text=\[PORT1 FW2 VER : 01 02 03 04 05 06 0A FF \]' <<<"$label" || e2e_fail "version label: $label"
grep -q '^ink=008000 ' <<<"$label" || e2e_fail "the label is not green: $label"
e2e_expect "EC RAM 0xD212 while running" "$(e2e_byte "$sim/ecram.bin" 0xD212)" 01
t1=$(e2e_panel "$(probe panels)" 1)
sleep 1.5
[ "$(e2e_panel "$(probe panels)" 1)" != "$t1" ] || e2e_fail "the clock panel does not advance"

probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0
e2e_expect "EC RAM 0xD212 after close" "$(e2e_byte "$sim/ecram.bin" 0xD212)" 00
[ "$before" = "$(stat -c '%s %Y' "$dir/io.dll"; sha256sum <"$dir/io.dll")" ] || e2e_fail "io.dll was rewritten"
e2e_log "PASS"
