#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds in one process (one core):
#   tools/fuzz.sh TARGET SECONDS [extra libFuzzer options]
# TARGET is exif, dpi, profile, read_jpeg, read_png, read_tiff, read_gif,
# read_bmp or read_qt. The growing corpus stays in build-fuzz/corpus/TARGET
# between runs; crashes go to build-fuzz/crashes/TARGET. Replay one with
#   build-fuzz/fuzz/fuzz_TARGET FILE
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 2 ]; then
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
target=$1 seconds=$2
shift 2
dir="$root/build-fuzz"
"$root/tools/fuzz-build.sh" >/dev/null
bin="$dir/fuzz/fuzz_$target"
[ -x "$bin" ] || { echo "no such fuzz target: $target" >&2; exit 2; }
[ -d "$dir/seeds/$target" ] || "$root/tools/fuzz-seeds.sh" >/dev/null
mkdir -p "$dir/corpus/$target" "$dir/crashes/$target"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Pictures up to 2 GiB are accepted (with working buffers beside them), hence
# the memory limits.
exec "$bin" -max_total_time="$seconds" -timeout=60 \
  -rss_limit_mb=8192 -malloc_limit_mb=8192 -print_final_stats=1 \
  -artifact_prefix="$dir/crashes/$target/" "$@" "$dir/corpus/$target" "$dir/seeds/$target"
