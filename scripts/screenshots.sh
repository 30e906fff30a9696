#!/usr/bin/env bash
# Retakes the README's screenshots (docs/*.png): builds the program, then
# runs the three jobs on a small Russian site under Xvfb with the real hhc
# and hh, and saves each window as it stands at the end of its job.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target take_screenshots hhc hh
mkdir -p docs
xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/take_screenshots docs
