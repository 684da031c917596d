#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS_PER_TARGET] (default 600)
# Runs every fuzz target for SECONDS each, one after the other under nice,
# from its committed seeds and what earlier runs learned; a crash or hang
# is kept and the target goes on. Prints each target's executions and what
# it found. Everything it writes stays in build/fuzz/<target>/ (corpus/,
# found/, log).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

cmake --preset host >/dev/null
cmake --build --preset host --target fuzzers >/dev/null
list=build/host/tests/fuzz/fuzzers.txt

status=0
printf '%-16s %14s %10s %8s %7s  %s\n' target executions "exec/s" corpus cover found
while IFS='|' read -r name target seeds options; do
  [ -n "$name" ] || continue
  work=build/fuzz/$name
  mkdir -p "$work/found"
  before=$(ls "$work/found" | wc -l)
  # shellcheck disable=SC2086  # options are separate words
  nice -n 10 tests/fuzz/run-fuzzer.sh "$target" "$seeds" "$work" "$seconds" $options \
    -seed=0 -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 >"$work/log" 2>&1 || true
  # The last status line: "#N: cov: C ft: F corp: K exec/s E oom/timeout/crash: ... time: Ts"
  last=$(grep -a '^#[0-9]*: cov:' "$work/log" | tail -1 || true)
  executions=$(sed -n 's/^#\([0-9]*\):.*/\1/p' <<<"$last")
  elapsed=$(sed -n 's/.* time: \([0-9]*\)s.*/\1/p' <<<"$last")
  rate=$([ -n "$executions" ] && [ "${elapsed:-0}" -gt 0 ] && echo $((executions / elapsed)) || true)
  corpus=$(ls "$work/corpus" | wc -l)
  cover=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  found=$(( $(ls "$work/found" | wc -l) - before ))
  printf '%-16s %14s %10s %8s %7s  %s\n' "$name" "${executions:-?}" "${rate:-?}" "$corpus" "${cover:-?}" \
    "$([ "$found" -eq 0 ] && echo nothing || echo "$found new in $work/found")"
  [ "$found" -eq 0 ] || status=1
done <"$list"
exit $status
