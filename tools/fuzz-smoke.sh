#!/usr/bin/env bash
# A short run of every fuzz target (2000 inputs each, from fresh seeds):
# fails on the first crash, sanitizer report or broken property.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$("$root/tools/fuzz-build.sh" | tail -n 1)
seeds=$("$root/tools/fuzz-seeds.sh" | tail -n 1)
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in exif dpi profile read_jpeg read_png read_tiff read_gif read_bmp read_qt; do
  work=$(mktemp -d)
  mkdir -p "$dir/crashes/smoke"
  echo "fuzz smoke run: $target" >&2
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 "$dir/fuzz/fuzz_$target" -runs=2000 -seed=1 -timeout=60 -rss_limit_mb=8192 \
      -malloc_limit_mb=8192 -artifact_prefix="$dir/crashes/smoke/$target-" "$work" "$seeds/$target" \
      >"$work.log" 2>&1; then
    tail -n 60 "$work.log" >&2
    rm -rf "$work" "$work.log"
    echo "fuzz smoke run of $target failed; the input is in $dir/crashes/smoke/" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$work.log" >&2 || true
  rm -rf "$work" "$work.log"
done
