#!/usr/bin/env bash
# The Windows vykuu under Wine stops safely on Ctrl+C. Wine turns a SIGINT
# of the process into the console's Ctrl+C event, so the test sends that
# while the simulator holds the flash at its 41st block. Meanwhile the
# Windows vyksimctl finds the folder locked.
#   WineInterrupt.sh WINE VYKUU.exe VYKSIMCTL.exe WORK
set -u
wine=$1 exe=$2 simctl=$3 work=$4
fail() { echo "FAIL: $*"; [ -n "${pid:-}" ] && kill -KILL "$pid" 2>/dev/null; exit 1; }
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
"$wine" "$simctl" init nb >/dev/null && "$wine" "$simctl" set nb pause_after_blocks=40 >/dev/null ||
  fail "vyksimctl"
head -c 131072 /dev/urandom >image.bin

"$wine" "$exe" --sim nb --timeout 30 flash --port 1 image.bin >out.txt 2>err.txt &
pid=$!
for _ in $(seq 600); do [ -e nb/paused ] && break; sleep 0.05; done
[ -e nb/paused ] || fail "the simulator did not pause"
# The folder is locked by its user: a change is refused, not lost.
"$wine" "$simctl" set nb busy_reads=7 >/dev/null 2>&1
rc=$?
[ "$rc" = 3 ] || fail "vyksimctl set on a folder in use: exit $rc, expected 3"
kill -INT "$pid"
for _ in $(seq 200); do grep -q "interrupted: stopping" err.txt && break; sleep 0.05; done
grep -q "interrupted: stopping" err.txt || fail "no note of the interrupt: $(cat err.txt)"
rm nb/paused
wait "$pid"
rc=$?
pid=
cat err.txt
[ "$rc" = 8 ] || fail "exit $rc, expected 8"
grep -q "interrupted after 41 of 319 blocks; no validate sent; PD reset; flash again to complete" err.txt ||
  fail "message"
cmp -s -i $((0xC000)) -n $((41 * 256)) image.bin nb/port1.bin || fail "the 41 blocks sent are not in port1.bin"
[ "$(od -v -An -tx1 -j $((0xC000 + 41 * 256)) -N 256 nb/port1.bin | tr -d ' \n' | tr -d f)" = "" ] ||
  fail "port1.bin holds more than the 41 blocks"
grep -q "^mode = normal" nb/settings.txt || fail "the PD was left in $(grep '^mode' nb/settings.txt)"
grep -q "Flash Done." out.txt && fail "the flash went on"
grep -q "^busy_reads = 7" nb/settings.txt && fail "the refused change was made"

# A second Ctrl+C ends it at once, and --json still prints the record.
"$wine" "$simctl" set nb pause_after_blocks=40 >/dev/null || fail "vyksimctl"
"$wine" "$exe" --sim nb --json --timeout 30 flash --port 1 image.bin >out.txt 2>err.txt &
pid=$!
for _ in $(seq 600); do [ -e nb/paused ] && break; sleep 0.05; done
[ -e nb/paused ] || fail "the simulator did not pause again"
kill -INT "$pid"
for _ in $(seq 200); do grep -q "interrupted: stopping" err.txt && break; sleep 0.05; done
kill -INT "$pid"
wait "$pid"
pid=
rm -f nb/paused
grep -q '"interrupted": true, "signal": "Ctrl+C", "endedAtOnce": true, "blocksWritten": 40, "pdState": "boot loader (flashing mode), flash partly written, no validate"' out.txt ||
  fail "no record of the second Ctrl+C: $(cat out.txt)"
echo "PASS"
