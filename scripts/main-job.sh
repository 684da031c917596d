#!/usr/bin/env bash
# The program's main job, on the simulated EC: VYK_UU.exe runs under Wine
# with the simulator's library as its "io.dll", in a fresh working folder
# against a fresh simulated notebook, on your display when there is one
# (else on Xvfb). Driven from outside like a technician would: load a random
# 128 KiB image through the open dialog, "Flash Go", check the simulated
# flash, "Read FW" the same range, "Save Bin File", compare byte for byte,
# then "PORT 2 PD" and its version in blue. Prints the window's log and
# leaves screenshots in build/main-job/.
# Exit code 0 only when the flash and the read-back gave identical bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh
mkdir -p build
if ! scripts/build.sh >build/main-job-build.log 2>&1; then
  tail -n 40 build/main-job-build.log >&2
  echo "main-job: the build failed (whole output in build/main-job-build.log)" >&2
  exit 1
fi

. scripts/wine-env.sh
if ! vyk_wine32_runs; then
  # tests/e2e/lib.sh then runs the 64-bit build of the same sources under
  # wine64 (the main job needs no port library of the program's own).
  echo "main-job: $vyk_no_wine32_text; it runs the 64-bit build of the same sources (build/win64/) under wine64" >&2
fi

export VYK_WIN32_BUILD_DIR="$root/build/win32"
export VYK_WIN64_BUILD_DIR="$root/build/win64"
export VYK_HOST_BUILD_DIR="$root/build/host"
export VYK_E2E_OUT="$root/build/main-job"
export VYK_E2E_WINEPREFIX="$root/build/main-job-wine"
export VYK_E2E_SHOW_LOG=1
export E2E_NAME=main-job
# In C:\VYK_UU, as on a technician's notebook: the log shows those paths.
export VYK_E2E_TECHNICIAN=1
rm -f "$VYK_E2E_OUT"/main-job-*.png
if bash tests/e2e/e2e_round_trip.sh; then
  echo "main-job: identical bytes after flash and read-back; screenshots in $VYK_E2E_OUT/"
  exit 0
fi
echo "main-job: FAILED; screenshots in $VYK_E2E_OUT/" >&2
exit 1
