#!/usr/bin/env bash
# Figures of the real program under Wine on a zero-latency simulated EC
# (busy_reads=0): the default-range flash write and flash read from the
# click to the moment the controls come back, against their timer floors,
# and how long the write's single tick of 319 blocks leaves the window
# without an answer. Prints figures; not a test.
#
#   bench/wine/run.sh [RUNS]       (default 3 runs of each sequence)
#
# Uses the Windows files of VYK_WIN32_BUILD_DIR (default build/win32) and
# vyksimctl of VYK_HOST_BUILD_DIR (default build/host); build them first
# (scripts/build.sh).
set -uo pipefail
runs=${1:-3}
root=$(cd "$(dirname "$0")/../.." && pwd)
export VYK_E2E_OUT="${VYK_E2E_OUT:-$root/build/bench-wine}"
export VYK_E2E_WINEPREFIX="${VYK_E2E_WINEPREFIX:-$root/build/bench-wine/prefix}"
export E2E_NAME=bench-wine
. "$root/tests/e2e/lib.sh"
e2e_setup

blocks=319
read_floor=$(((8 + 2 * blocks) * 10))
write_ticks=$((10 * 100))

sim=$(e2e_new_sim sim "busy_reads=0" "busy_micros=0")
dir=$(e2e_new_folder app)
cp "$E2E_SIMLIB" "$dir/io.dll"
head -c $((0x20000)) /dev/urandom >"$dir/image.bin"
e2e_start "$dir" "$sim"
probe click "Load Bin File" || e2e_fail "cannot press Load Bin File"
probe open-file "$(e2e_winpath "$dir/image.bin")" >/dev/null || e2e_fail "the open dialog could not be answered"
probe wait-log "File Length: " 30 >/dev/null || e2e_fail "the load did not finish"
# Let the monitor send its first port selection before timing.
sleep 2.2

field() { sed -n "s/.*$2=\([0-9.]*\).*/\1/p" <<<"$1"; }
pct() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.1f%%", (a - b) * 100 / b }'; }

echo "VYK_UU under Wine, simulated EC with busy_reads=0, default range 00C000..01FF00 ($blocks blocks)"
echo "Times run from the click to the moment the controls come back. The write's"
echo "floor is ten 100 ms ticks plus its one long tick (the transfer). Timer2 runs"
echo "from start and keeps its own beat: the first state comes 0..100 ms after the"
echo "click, and the long tick overlaps the beat instead of pushing it back, so a"
echo "write can end below that floor (paced_ms = elapsed minus the long tick)."
printf '%-6s %4s %11s %9s %11s %10s %9s\n' seq run elapsed_ms floor_ms over_floor hold_ms paced_ms
for i in $(seq "$runs"); do
  out=$(probe time-sequence "Flash Go" 300) || e2e_fail "the flash write did not end"
  el=$(field "$out" elapsed_ms)
  hold=$(field "$out" longest_unanswered_ms)
  floor=$(awk -v t="$write_ticks" -v h="$hold" 'BEGIN { printf "%.0f", t + h }')
  paced=$(awk -v e="$el" -v h="$hold" 'BEGIN { printf "%.0f", e - h }')
  printf '%-6s %4d %11.0f %9s %11s %10.0f %9s\n' write "$i" "$el" "$floor" "$(pct "$el" "$floor")" "$hold" "$paced"
  sleep 1.2   # the monitor re-selects the port after a write; keep it out of the next run
done
for i in $(seq "$runs"); do
  out=$(probe time-sequence "Read FW" 300) || e2e_fail "the flash read did not end"
  el=$(field "$out" elapsed_ms)
  hold=$(field "$out" longest_unanswered_ms)
  printf '%-6s %4d %11.0f %9s %11s %10.0f %9s\n' read "$i" "$el" "$read_floor" "$(pct "$el" "$read_floor")" "$hold" "-"
done
echo "hold_ms: the longest time the window left a message from outside unanswered"
echo "(for the write: its single tick of $blocks blocks, transfer and log lines)."

# The hold of the write's tick split into the part that grows with the
# blocks: one block's share, from a one-block run.
probe set-edit 1 00C000 && probe set-edit 2 00C100 || e2e_fail "cannot type into the write fields"
out=$(probe time-sequence "Flash Go" 60) || e2e_fail "the one-block write did not end"
one=$(field "$out" longest_unanswered_ms)
echo "one-block write: longest unanswered ${one} ms (the window answers between ticks at best every few ms)"
lines=$(probe log | wc -l)
echo "log lines at the end: $lines"
e2e_shot "end"
probe close
e2e_wait_exit 30 >/dev/null || true
