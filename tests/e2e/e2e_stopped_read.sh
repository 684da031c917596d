#!/usr/bin/env bash
# A read that stops on an EC that stays busy keeps what was in memory: load
# an image, "Flash Go" four blocks (and their read-back), then "Read FW" of
# the default range on an EC that lets thirteen block commands complete and
# keeps the fourteenth (the read's block 0x00C5) busy. The read stops after
# its busy spin, says that no data was kept and that the PD may be in its
# boot loader, gives both buttons back, and "Save Bin File" still writes the
# loaded image whole. Then, on a notebook whose EC drops the writes, the
# read-back of a flash finds the flash unchanged and says what to do.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

sim=$(e2e_new_sim sim "stuck_busy_after_blocks=13")
dir=$(e2e_new_folder app)
cp "$E2E_SIMLIB" "$dir/io.dll"
image="$dir/image.bin"
head -c $((0x20000)) /dev/urandom >"$image"
saved="$dir/saved.bin"

e2e_start "$dir" "$sim"
e2e_load_image "$image"

probe set-edit 2 00C400 || e2e_fail "cannot set the flash end field"
probe click "Flash Go" || e2e_fail "cannot press Flash Go"
probe wait-log "Cypess PD FW Update Completed!" 120 >/dev/null || e2e_fail "the flash write did not complete"
probe wait-log "Verify OK" 120 >/dev/null || e2e_fail "the flash was not read back"
probe wait-enabled "Read FW" 10 || e2e_fail "the controls did not come back after the write"

probe click "Read FW" || e2e_fail "cannot press Read FW"
line=$(probe wait-log "reading stopped" 60) || e2e_fail "the stuck read did not stop"
e2e_expect "stop line" "$line" "Read FW: block 0x00C5: EC stayed busy for 3000 ms, reading stopped, no data kept: blocks 0x00C0 to 0x00C4 read (1280 Byte) and dropped, the image in memory is as before; no validate or reset sent"
probe wait-enabled "Read FW" 10 || e2e_fail "the controls did not come back after the read"
e2e_expect "advice line" "$(probe log | tail -n1)" "port 1's PD may be left in its boot loader (flashing mode); nothing was written to it. Keep the notebook powered. Once the EC answers again, vykuu reset --port 1 sends it back to its firmware, or press \"Flash Go\" with its image."
e2e_shot "stopped"
e2e_expect "Flash Go after the stopped read" "$(probe enabled "Flash Go")" 1
e2e_expect "Save Bin File after the stopped read" "$(probe enabled "Save Bin File")" 1
log=$(probe log)
grep -q "Read Cypess PD FW Completed!" <<<"$log" && e2e_fail "the stopped read claims to have completed"

probe click "Save Bin File" || e2e_fail "cannot press Save Bin File"
probe save-file "$(e2e_winpath "$saved")" || e2e_fail "the save dialog could not be answered"
for _ in $(seq 50); do [ -s "$saved" ] && [ "$(stat -c %s "$saved")" -ge $((0x20000)) ] && break; sleep 0.1; done
e2e_expect "saved size" "$(stat -c %s "$saved" 2>/dev/null)" $((0x20000))
cmp -s "$saved" "$image" || e2e_fail "the saved file is not the loaded image"

probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0
e2e_log "the stopped read kept the loaded image, and Save Bin File wrote it"

# An EC that drops every write: the flash "completes", its read-back does not match.
sim2=$(e2e_new_sim sim2 "ignore_writes_port=1")
flash_before=$(sha256sum <"$sim2/port1.bin")
plain="$dir/plain.bin"   # no 0xFF byte, so every block differs from the erased flash
head -c $((0x20000)) /dev/zero | tr '\0' '\132' >"$plain"
e2e_start "$dir" "$sim2"
e2e_load_image "$plain"
probe click "Flash Go" || e2e_fail "cannot press Flash Go"
line=$(probe wait-log "Verify FAILED" 300) || e2e_fail "the read-back did not find the dropped writes"
[[ $line == *"Verify FAILED: 319 of 319 blocks (blocks 0x00C0 to 0x01FE) differ from the image, the first at 0x00C000 (flash 0xFF, image 0x5A)"* ]] ||
  e2e_fail "mismatch line: [$line]"
[[ $line == *'Keep the notebook on, on AC power, and press "Flash Go" again with the same image'* ]] ||
  e2e_fail "the mismatch line does not say what to do: [$line]"
probe wait-enabled "Flash Go" 10 || e2e_fail "the controls did not come back after the read-back"
[ "$(sha256sum <"$sim2/port1.bin")" = "$flash_before" ] || e2e_fail "the EC that drops writes changed the flash"
probe log | grep -q "Verify OK" && e2e_fail "a read-back that differs said the flash matched"
e2e_shot "mismatch"
[ -n "${VYK_E2E_DEMO:-}" ] && probe log >"$VYK_E2E_DEMO/ignore-writes.log"
probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0
e2e_log "PASS: the stopped read kept the loaded image; the read-back caught the dropped writes"
