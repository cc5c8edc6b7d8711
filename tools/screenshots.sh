#!/usr/bin/env bash
# Writes screenshots of the main window (start screen, photo and signature
# framing) as PNG files, by running the program's window under a virtual X
# server. Usage: tools/screenshots.sh [output folder, default build/screenshots]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANTA_BUILD_DIR:-$root/build}
out=${1:-$build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
if [ ! -x "$build/tests/test_app" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" --target test_app -j2 >&2
fi
CORVANTA_SCREENSHOT_DIR="$out" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tests/test_app" --gtest_filter='Screenshots.*'
ls "$out"/*.png
