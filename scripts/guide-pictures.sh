#!/usr/bin/env bash
# Refreshes the pictures of the technician's guide (docs/guide/*.png) from
# the main job's run on the simulated notebook: runs scripts/main-job.sh on
# a display of its own (Xvfb, so the screen around the window is black and
# is trimmed away), then cuts the window out of each of its screenshots and
# the status bar out of one, without the files' time stamps. Commit the
# pictures it changes; the packages' HTML guide embeds them at build time.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
if ! env -u DISPLAY scripts/main-job.sh >build/guide-pictures.log 2>&1; then
  tail -n 30 build/guide-pictures.log >&2
  echo "guide-pictures: the main job failed (whole output in build/guide-pictures.log); no picture changed" >&2
  exit 1
fi

shots=build/main-job out=docs/guide
mkdir -p "$out"
for pair in 1-start:window-start 2-loaded:window-loaded 3-flashed:window-flashed \
            4-read:window-read 5-port2:window-port2; do
  shot=$shots/main-job-${pair%%:*}.png
  [ -f "$shot" ] || { echo "guide-pictures: the main job left no $shot" >&2; exit 1; }
  convert "$shot" -trim +repage -strip "$out/${pair#*:}.png"
done
# The status bar at the window's foot, twice its size so its texts read well.
convert "$out/window-flashed.png" -gravity south -crop x21+0+0 +repage -scale 200% -strip "$out/status-bar.png"
for picture in "$out"/*.png; do
  echo "guide-pictures: $picture $(identify -format '%wx%h' "$picture")"
done
git status --short -- "$out"
