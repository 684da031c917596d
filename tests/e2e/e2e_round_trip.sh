#!/usr/bin/env bash
# The round trip through the real program on the simulated EC: a typo in the
# start field refused before the EC; load a random 128 KiB image through the
# open dialog, "Flash Go" the default range and its read-back, check the
# simulated flash of port 1, "Read FW" the same range back, "Save Bin File"
# (at its flash addresses) and compare byte for byte; another image flashed,
# the saved read loaded and flashed back, the flash as it was; the record
# beside the program; then "PORT 2 PD" shows port 2's version in blue.
# Screenshots along the way. VYK_E2E_SHOW_LOG=1 prints the log; VYK_E2E_DEMO
# names a folder for the logs and the record.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

sim=$(e2e_new_sim sim "port1_version=11 12 13 14 15 16 17 18" "port2_version=21 22 23 24 25 26 27 28")
dir=$(e2e_new_folder app)
cp "$E2E_SIMLIB" "$dir/io.dll"
image="$dir/image.bin"
head -c $((0x20000)) /dev/urandom >"$image"
saved="$dir/readback.bin"
port2_before=$(sha256sum <"$sim/port2.bin")

e2e_start "$dir" "$sim"
# The window as a technician first sees it: the second tick shows port 1's version.
port1='text=[PORT1 FW2 VER : 11 12 13 14 15 16 17 18 ]'
for _ in $(seq 40); do
  label=$(probe label)
  grep -qxF "$port1" <<<"$label" && break
  sleep 0.25
done
grep -qxF "$port1" <<<"$label" || e2e_fail "port 1's version did not show: $label"
e2e_shot "1-start"

# Range of the default fields: flash 0x00C000..0x01FEFF, 319 blocks.
first=$((0xC000)) count=$((0x1FF00 - 0xC000))

expected_flash_log() {
  echo "Jump To Boot Mode Done."
  echo "Enter Flashing Mode Done."
  echo "Flashing..."
  echo "Flash Start Addr = 0x00C000"
  echo "Flash End Addr = 0x01FF00"
  for ((b = 0xC0; b < 0x1FF; b++)); do printf 'FlashAddr = 0x%06X\n' $((b << 8)); done
  echo "Flash Done."
  echo "Request The New Firmware To Be Validated Done"
  echo "Reset PD Register Done"
}
expected_read_log() {
  echo "Jump To Boot Mode Done."
  echo "Enter Flashing Mode Done."
  echo "Reading..."
  echo "Read Start Addr = 0x00C000"
  echo "Read End Addr = 0x01FF00"
  echo "ReadCnt = 0x0001FF"
  for ((b = 0xC0; b < 0x1FF; b++)); do printf 'ReadAddr = 0x%06X\n' $((b << 8)); done
  echo "Read Done."
  echo "Request The New Firmware To Be Validated Done"
  echo "Reset PD Register Done"
}
# The lines of the log from the one that ends in FIRST up to the one that
# ends in LAST.
log_between() {
  awk -v a="$2" -v b="$3" 'index($0, a) && !on { on = 1 } on { print } on && index($0, b) { exit }' <<<"$1"
}
check_sequence_log() {
  local log=$1 start=$2 end=$3 body=$4 part
  part=$(log_between "$log" ">> $start" ">> $end")
  [[ $(head -n1 <<<"$part") =~ ^$E2E_DATE_RE\ \ $E2E_TIME_RE\ \>\>\ $start$ ]] ||
    e2e_fail "first line is not stamped: [$(head -n1 <<<"$part")]"
  [[ $(tail -n1 <<<"$part") =~ ^$E2E_DATE_RE\ \ $E2E_TIME_RE\ \>\>\ $end$ ]] ||
    e2e_fail "last line is not stamped: [$(tail -n1 <<<"$part")]"
  diff <(sed '1d;$d' <<<"$part") <(echo "$body") >/dev/null ||
    e2e_fail "the lines between \"$start\" and \"$end\" differ: $(diff <(sed '1d;$d' <<<"$part") <(echo "$body") | head -n 10)"
}

# A name that does not exist: the load fails, says so, and "Flash Go" stays
# off (nothing half-loaded can be flashed).
probe click "Load Bin File" || e2e_fail "cannot press Load Bin File"
probe open-file "$(e2e_winpath "$dir/missing.bin")" || e2e_fail "the open dialog could not be answered"
probe wait-log "Load File failed! " 30 >/dev/null || e2e_fail "the failed load was not logged"
log=$(probe log)
want=$(printf ' \nLoad File : %s\nLoad File failed! ' "$(e2e_winpath "$dir/missing.bin")")
[ "$log" = "$want" ] || e2e_fail "failed load log: [$log], want [$want]"
e2e_expect "Flash Go after a failed load" "$(probe enabled "Flash Go")" 0

# Load.
e2e_load_image "$image"
log=$(probe log)
want=$(printf '%s\n \nLoad File : %s\nLoad File Successed! \nFile Length: 131072 Byte' "$want" "$(e2e_winpath "$image")")
[ "$log" = "$want" ] || e2e_fail "load log: [$log], want [$want]"
e2e_expect "Flash Go after the load" "$(probe enabled "Flash Go")" 1
e2e_expect "Save Bin File after the load" "$(probe enabled "Save Bin File")" 0
e2e_shot "2-loaded"

# A typo: "0x00C000" reads as 0x000000; refused before the EC is reached.
flash_before=$(sha256sum <"$sim/port1.bin")
probe set-edit 1 0x00C000 || e2e_fail "cannot type into the start field"
probe click "Flash Go" || e2e_fail "cannot press Flash Go"
line=$(probe wait-log "Flash Go refused" 30) || e2e_fail "the typo was not refused"
e2e_expect "typo line" "$line" 'Flash Go refused: "Write PD FW" start address "0x00C000": leave out the 0x, the address is always hexadecimal; the window would read it as 0x000000; give 1 to 6 uppercase hexadecimal digits, like 00C000; nothing sent, the PD not touched'
e2e_expect "Flash Go after the typo" "$(probe enabled "Flash Go")" 1
e2e_expect "Read FW after the typo" "$(probe enabled "Read FW")" 1
[ "$(sha256sum <"$sim/port1.bin")" = "$flash_before" ] || e2e_fail "the refused flash changed port 1's flash"
grep -q "Cypress PD FW Flash Start" <<<"$(probe log)" && e2e_fail "the refused flash started"
[ -n "${VYK_E2E_DEMO:-}" ] && probe log >"$VYK_E2E_DEMO/typo.log"
probe set-edit 1 00C000 || e2e_fail "cannot type into the start field"

# Flash, then its read-back; the controls come back only after it.
t0=$(date +%s%N)
probe click "Flash Go" || e2e_fail "cannot press Flash Go"
probe wait-log "Cypess PD FW Update Completed!" 300 >/dev/null || e2e_fail "the flash write did not complete"
t1=$(date +%s%N)
e2e_expect "Save Bin File during the read-back" "$(probe enabled "Save Bin File")" 0
probe wait-log "Verify OK" 300 >/dev/null || e2e_fail "the read-back did not say the flash matched"
probe wait-enabled "Save Bin File" 10 || e2e_fail "the controls did not come back after the read-back"
t2=$(date +%s%N)
e2e_log "flash write took $(((t1 - t0) / 1000000)) ms, its read-back $(((t2 - t1) / 1000000)) ms more, seen from outside"
[ -n "${VYK_E2E_DEMO:-}" ] && echo "flash write $(((t1 - t0) / 1000000)) ms, read-back $(((t2 - t1) / 1000000)) ms" >>"$VYK_E2E_DEMO/verify-time.txt"
e2e_shot "3-flashed"
line=$(probe log | tail -n1)
[[ $line =~ ^$E2E_DATE_RE\ \ $E2E_TIME_RE\ \>\>\ Verify\ OK:\ the\ flash\ holds\ the\ image,\ all\ 319\ blocks ]] ||
  e2e_fail "read-back line: [$line]"
log=$(probe log)
check_sequence_log "$log" "Cypress PD FW Flash Start" "Cypess PD FW Update Completed!" "$(expected_flash_log)"
cmp <(tail -c +$((first + 1)) "$sim/port1.bin" | head -c $count) <(tail -c +$((first + 1)) "$image" | head -c $count) ||
  e2e_fail "port 1's flash does not hold the image at 0x00C000..0x01FEFF"
[ "$(sha256sum <"$sim/port2.bin")" = "$port2_before" ] || e2e_fail "port 2's flash changed"
e2e_log "port 1 flash holds the image's 0x00C000..0x01FEFF"

# Read back and save.
probe click "Read FW" || e2e_fail "cannot press Read FW"
# While it runs: buttons and port choice off, address fields still editable.
sleep 0.3
for b in "Load Bin File" "Flash Go" "Read FW" "Save Bin File" "PORT 1 PD" "PORT 2 PD"; do
  e2e_expect "\"$b\" during the read" "$(probe enabled "$b")" 0
done
probe set-edit 1 00C000 || e2e_fail "the address fields are not editable during a read"
probe wait-log "Read Cypess PD FW Completed!" 300 >/dev/null || e2e_fail "the flash read did not complete"
probe wait-enabled "Save Bin File" 10 || e2e_fail "the controls did not come back after the read"
e2e_shot "4-read"
log=$(probe log)
check_sequence_log "$log" "Read Cypress PD FW Start" "Read Cypess PD FW Completed!" "$(expected_read_log)"
probe click "Save Bin File" || e2e_fail "cannot press Save Bin File"
probe save-file "$(e2e_winpath "$saved")" || e2e_fail "the save dialog could not be answered"
for _ in $(seq 50); do [ -s "$saved" ] && [ "$(stat -c %s "$saved")" -ge $count ] && break; sleep 0.1; done
[ -f "$saved" ] || e2e_fail "no file was saved"
e2e_expect "saved size" "$(stat -c %s "$saved")" $((first + count))
cmp <(head -c $first "$saved") <(head -c $first /dev/zero | tr '\0' '\377') ||
  e2e_fail "the saved file is not 0xFF below 0x00C000"
cmp <(tail -c +$((first + 1)) "$saved") <(tail -c +$((first + 1)) "$image" | head -c $count) ||
  e2e_fail "the saved file differs from the image's 0x00C000..0x01FEFF"
e2e_log "read back and saved: $count bytes identical to the image's range, at their flash addresses"

# The saved read restores: another image flashed, the saved file loaded and
# flashed with the same fields, the flash exactly as it was.
flash_before=$(sha256sum <"$sim/port1.bin")
other="$dir/other.bin"
head -c $((0x20000)) /dev/urandom >"$other"
e2e_load_image "$other"
probe click "Flash Go" || e2e_fail "cannot press Flash Go"
probe wait-log "Verify OK" 300 >/dev/null || e2e_fail "the other image's flash was not read back"
probe wait-enabled "Save Bin File" 10 || e2e_fail "the controls did not come back"
[ "$(sha256sum <"$sim/port1.bin")" != "$flash_before" ] || e2e_fail "the other image did not change the flash"
e2e_load_image "$saved"
lines=$(probe log | wc -l)
probe click "Flash Go" || e2e_fail "cannot press Flash Go"
probe wait-log "Verify OK" 300 >/dev/null || e2e_fail "the restore was not read back"
probe wait-enabled "Save Bin File" 10 || e2e_fail "the controls did not come back"
[ "$(sha256sum <"$sim/port1.bin")" = "$flash_before" ] || e2e_fail "the restored flash is not as it was"
probe log | tail -n +$((lines + 1)) | grep -q "padded with 0xFF" && e2e_fail "the restore padded the range"
e2e_log "the saved read restored the flash exactly; the read-back says so"
[ -n "${VYK_E2E_DEMO:-}" ] && probe log >"$VYK_E2E_DEMO/round-trip.log"

# The record beside the program: every line of the log, stamped, and the load
# and start lines the window does not show.
record="$dir/VYK_UU.log"
[ -s "$record" ] || e2e_fail "no record beside the program"
grep -qF "  Loaded $(e2e_winpath "$saved"): $((first + count)) Byte, SHA-256 $(sha256sum <"$saved" | cut -d' ' -f1)" "$record" ||
  e2e_fail "the record does not hold the load of the saved file with its SHA-256"
grep -q "  Flash Go on port 1, range 0x00C000 to 0x01FF00; VYK_UU " "$record" || e2e_fail "the record has no start line"
grep -c "Verify OK" "$record" | grep -qx 3 || e2e_fail "the record does not hold the three read-backs"
diff <(probe log) <(tr -d '\r' <"$record" | cut -c 22- | grep -v '^VYK_UU .* started\|^Loaded \|^Flash Go on port\|^Read FW on port') >/dev/null ||
  e2e_fail "the record's lines are not the log's: $(diff <(probe log) <(tr -d '\r' <"$record" | cut -c 22-) | head -n 5)"
[ -n "${VYK_E2E_DEMO:-}" ] && cp "$record" "$VYK_E2E_DEMO/VYK_UU.log"

# Port 2: the first tick selects it, the next shows its version in blue.
probe radio 2 || e2e_fail "cannot choose PORT 2 PD"
label=""
for _ in $(seq 40); do
  label=$(probe label)
  grep -q 'PORT2' <<<"$label" && break
  sleep 0.25
done
echo "$label"
e2e_shot "5-port2"
grep -qx 'text=\[PORT2 FW2 VER : 21 22 23 24 25 26 27 28 \]' <<<"$label" || e2e_fail "port 2 label: $label"
grep -q '^ink=0000FF ' <<<"$label" || e2e_fail "the port 2 label is not blue: $label"

if [ -n "${VYK_E2E_SHOW_LOG:-}" ]; then
  echo "----- log of the window -----"
  probe log
  echo "-----------------------------"
fi
probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0
e2e_log "PASS: flash, read back and save gave identical bytes"
