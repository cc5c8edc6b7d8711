#!/usr/bin/env bash
# Sets up the machine, builds, and runs the whole test suite.
#   tools/test.sh             plain build in build/
#   tools/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/,
#                             then a short run of every fuzz target (clang build in build-fuzz/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
dir=$("$root/tools/build.sh" "$@" | tail -n 1)
export QT_QPA_PLATFORM=offscreen
export SANE_CONFIG_DIR="$root/tests/sane"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
cd "$dir"
# A second try absorbs a rare scheduling hiccup of the scanner watchdog tests on a loaded
# machine; a test that fails twice still fails the run.
ctest --output-on-failure -j"$(nproc)" --timeout 900 --repeat until-pass:2
if [ "${1:-}" = "--sanitize" ]; then
  "$root/tools/fuzz-smoke.sh"
fi
