#!/usr/bin/env bash
# The schedule explorer's long run: COUNT seeds from FIRST (default 200000
# from 1000000, past the seeds the tests run), split over JOBS processes
# (default: the cores), then how the runs ended, the schedules per second,
# and every seed that broke an invariant with the command that replays it.
# Builds the explorer first.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-200000}
first=${2:-1000000}
jobs=${3:-$(nproc)}
cmake --build --preset host --target schedule_explorer >/dev/null
explorer=build/host/tests/explorer/schedule_explorer
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

began=$(date +%s.%N)
share=$(( (count + jobs - 1) / jobs ))
for ((j = 0; j < jobs; ++j)); do
    from=$(( first + j * share ))
    n=$(( count - j * share < share ? count - j * share : share ))
    (( n > 0 )) || continue
    "$explorer" --first "$from" --count "$n" --tally >"$out/$j.txt" || true &
done
wait
ended=$(date +%s.%N)

# A process that ended without its last line is a fault of its own.
abnormal=0
for f in "$out"/*.txt; do
    if ! tail -1 "$f" | grep -q ' schedules in '; then
        echo "an explorer process ended abnormally; its output ends:"
        tail -5 "$f"
        abnormal=1
    fi
done
done_count=$(cat "$out"/*.txt | awk '/ schedules in /{n+=$1} END{print n+0}')

# The tallies added up, then the broken seeds.
awk '/^ *[0-9]+  /{n=$1; $1=""; sum[substr($0,2)]+=n} END{for (k in sum) printf "%7d  %s\n", sum[k], k}' \
    "$out"/*.txt | sort -k2
grep -h -A3 '^seed ' "$out"/*.txt || true
broken=$(cat "$out"/*.txt | grep -c '^seed ' || true)
awk -v n="$done_count" -v b="$began" -v e="$ended" -v k="$broken" -v j="$jobs" \
    'BEGIN{s=e-b; printf "%d schedules in %.1f s on %d processes: %.0f schedules per second; %d broke an invariant\n", n, s, j, n/s, k}'
(( broken == 0 && abnormal == 0 ))
