#!/usr/bin/env bash
# A second start while a copy runs ends with exit code 1, brings the running
# copy's window forward and leaves "io.dll" as it was; once the first copy
# has ended, a new start runs normally.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

dir=$(e2e_new_folder app)
e2e_start "$dir"
[ -f "$dir/io.dll" ] || e2e_fail "the first start wrote no io.dll"
before=$(stat -c '%s %Y %Z' "$dir/io.dll"; sha256sum <"$dir/io.dll")

# Another window takes the foreground first, so that coming forward shows.
probe hold-foreground 60 >/dev/null &
E2E_PIDS+=($!)
for _ in $(seq 100); do
  probe foreground | grep -q 'class=\[VykProbeForeground\]' && break
  sleep 0.1
done
probe foreground | grep -q 'class=\[VykProbeForeground\]' || e2e_fail "the probe's window did not take the foreground"

rc=0
(cd "$dir" && timeout 60 "$E2E_WINE" VYK_UU.exe >/dev/null 2>&1) || rc=$?
e2e_expect "exit code of the second start" "$rc" 1

fg=$(probe foreground)
e2e_log "$fg"
fg_pid=$(sed -n 's/.* pid=\([0-9]*\) .*/\1/p' <<<"$fg")
prog_pid=$(sed -n 's/.* program-pid=\([0-9]*\) .*/\1/p' <<<"$fg")
[ -n "$fg_pid" ] && [ "$fg_pid" = "$prog_pid" ] ||
  e2e_fail "the running copy's window was not brought forward: $fg"
grep -q 'iconic=0' <<<"$fg" || e2e_fail "the running copy's window is still minimised"
e2e_shot "brought-forward"

after=$(stat -c '%s %Y %Z' "$dir/io.dll"; sha256sum <"$dir/io.dll")
[ "$before" = "$after" ] || e2e_fail "the second start touched io.dll"
probe find 1 >/dev/null || e2e_fail "the first copy is gone"

probe close
probe wait-gone 20 || e2e_fail "the window did not close"
code=$(e2e_wait_exit 30) || e2e_fail "the first copy did not end"
e2e_expect "exit code of a normal run" "$code" 0

# The mutex has gone with the first copy.
e2e_start "$dir"
probe close
code=$(e2e_wait_exit 30) || e2e_fail "the restarted copy did not end"
e2e_expect "exit code of the restarted copy" "$code" 0
e2e_log "PASS"
