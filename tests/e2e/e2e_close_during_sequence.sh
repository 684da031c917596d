#!/usr/bin/env bash
# Closing the window while a sequence runs stops it safely before the
# program ends, and the session may not end meanwhile:
# 1. "Read FW" of the default range, asked whether the session may end
#    (yes while idle, no during the read), closed 1.5 s in: the simulated
#    notebook is back in normal mode with HostActive 0, the program gone.
# 2. "Flash Go" closed in its command series, before the block tick: normal
#    mode, nothing written.
# 3. "Flash Go" closed during its block tick (slow EC): the close waits
#    behind the tick, then the validate and the reset go out; the flash holds
#    the whole range.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

dir=$(e2e_new_folder app)
cp "$E2E_SIMLIB" "$dir/io.dll"
image="$dir/image.bin"
head -c $((0x20000)) /dev/urandom >"$image"
first=$((0xC000)) count=$((0x1FF00 - 0xC000))

mode_of() { sed -n 's/^mode = \([a-z]*\).*/\1/p' "$1/settings.txt"; }

# Closes the window and checks what the notebook in SIM is left with.
close_and_check() {
  local sim=$1 what=$2 t0 code
  t0=$(date +%s%N)
  probe close
  code=$(e2e_wait_exit 15) || e2e_fail "$what: the program did not end within 15 s of the close"
  e2e_log "$what: gone $((($(date +%s%N) - t0) / 1000000)) ms after the close"
  e2e_expect "$what: exit code" "$code" 0
  e2e_expect "$what: mode" "$(mode_of "$sim")" normal
  e2e_expect "$what: HostActive" "$(e2e_byte "$sim/ecram.bin" 0xD212)" 00
  e2e_expect "$what: PdCommand" "$(e2e_byte "$sim/ecram.bin" 0xD213)" 00
}

# 1. A read.
sim=$(e2e_new_sim sim-read)
e2e_start "$dir" "$sim"
e2e_expect "the session may end while idle" "$(probe query-end-session)" 1
probe click "Read FW" || e2e_fail "cannot press Read FW"
sleep 1.5
e2e_expect "the session may end during the read" "$(probe query-end-session)" 0
e2e_expect "mode during the read" "$(mode_of "$sim")" flashing
e2e_shot "read-running"
close_and_check "$sim" "read closed at 1.5 s"

# 2. A flash closed before its block tick: 30 busy tests a command keep
#    each step of the command series waiting 30 ticks.
sim=$(e2e_new_sim sim-flash-early "busy_reads=30")
before=$(sha256sum <"$sim/port1.bin")
e2e_start "$dir" "$sim"
e2e_load_image "$image"
probe click "Flash Go" || e2e_fail "cannot press Flash Go"
probe wait-log "Jump To Boot Mode Done." 30 >/dev/null || e2e_fail "the flash did not reach its command series"
close_and_check "$sim" "flash closed in its command series"
[ "$(sha256sum <"$sim/port1.bin")" = "$before" ] || e2e_fail "the flash closed before its block tick wrote blocks"

# 3. A flash closed during its block tick: 20 ms a command keeps the tick
#    above 6 s.
sim=$(e2e_new_sim sim-flash-late "busy_micros=20000")
e2e_start "$dir" "$sim"
e2e_load_image "$image"
probe click "Flash Go" || e2e_fail "cannot press Flash Go"
sleep 1.5
close_and_check "$sim" "flash closed during its block tick"
cmp <(tail -c +$((first + 1)) "$sim/port1.bin" | head -c $count) <(tail -c +$((first + 1)) "$image" | head -c $count) ||
  e2e_fail "the flash closed during its block tick does not hold the whole range"
e2e_log "PASS: every close left the notebook in normal mode with HostActive 0"
