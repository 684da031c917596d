#!/bin/sh
# run-fuzzer.sh [--fresh] TARGET SEEDS WORK SECONDS [OPTION...]
# Fuzzes for SECONDS from the committed SEEDS. What it learns goes to
# WORK/corpus (emptied first with --fresh) and what it finds to WORK/found:
# both in the build tree, never beside the seeds.
set -eu
fresh=0
if [ "$1" = --fresh ]; then fresh=1; shift; fi
target=$1 seeds=$2 work=$3 seconds=$4
shift 4
[ "$fresh" = 0 ] || rm -rf "$work/corpus"
mkdir -p "$work/corpus" "$work/found"
exec "$target" -max_total_time="$seconds" -timeout=10 -seed=1 -print_final_stats=1 \
    -artifact_prefix="$work/found/" "$@" "$work/corpus" "$seeds"
