#!/usr/bin/env bash
# The program's main job on the simulated EC.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
exec build/host/cli/vykuu --help
