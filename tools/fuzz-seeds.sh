#!/usr/bin/env bash
# Writes the seed corpora of every fuzz target into build-fuzz/seeds/<target>
# (made fresh each time; they are small and never committed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-fuzz"
[ -x "$dir/fuzz/fuzz_make_seeds" ] || "$root/tools/fuzz-build.sh" >/dev/null
rm -rf "$dir/seeds"
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 "$dir/fuzz/fuzz_make_seeds" "$dir/seeds" 2>/dev/null
echo "$dir/seeds"
