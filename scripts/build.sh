#!/usr/bin/env bash
# Configures and builds the three presets: host, win32 (the product), win64.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in host win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
