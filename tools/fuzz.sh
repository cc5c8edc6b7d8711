#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds in one process (one core):
#   tools/fuzz.sh TARGET SECONDS [extra libFuzzer options]
# or every target in turn, sharing a total time, with one line per target
# appended to the log kept in the repository (fuzz/fuzz-log.tsv):
#   tools/fuzz.sh --all TOTAL_SECONDS [extra libFuzzer options]
# (FUZZ_TARGETS="exif dpi" limits --all to those targets).
# TARGET is exif, dpi, profile, read_jpeg, read_png, read_tiff, read_gif,
# read_bmp or read_qt. The growing corpus stays in build-fuzz/corpus/TARGET
# between runs; crashes go to build-fuzz/crashes/TARGET. Replay one with
#   build-fuzz/fuzz/fuzz_TARGET FILE
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 2 ]; then
  sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
read -r -a targets <<<"${FUZZ_TARGETS:-exif dpi profile read_jpeg read_png read_tiff read_gif read_bmp read_qt}"
dir="$root/build-fuzz"
log="$root/fuzz/fuzz-log.tsv"
"$root/tools/fuzz-build.sh" >/dev/null
[ -d "$dir/seeds/read_jpeg" ] || "$root/tools/fuzz-seeds.sh" >/dev/null
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# A picture is refused before it is decoded when it would take more than
# 1 GiB of pixels, so 2 GiB leaves room for the decoders' working buffers and
# the sanitizer's own; anything above is a fault worth its input.
run_target() { # target seconds extra options...
  local target=$1 seconds=$2
  shift 2
  local bin="$dir/fuzz/fuzz_$target"
  [ -x "$bin" ] || { echo "no such fuzz target: $target" >&2; return 2; }
  mkdir -p "$dir/corpus/$target" "$dir/crashes/$target"
  "$bin" -max_total_time="$seconds" -timeout=60 \
    -rss_limit_mb=2048 -malloc_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/crashes/$target/" "$@" "$dir/corpus/$target" "$dir/seeds/$target"
}

if [ "$1" != "--all" ]; then
  target=$1 seconds=$2
  shift 2
  run_target "$target" "$seconds" "$@"
  exit $?
fi

total=$2
shift 2
share=$(( total / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')
[ -s "$log" ] || printf 'date\tcommit\ttarget\tseconds\texecutions\texec_per_s\tcoverage\tfeatures\tcorpus\tpeak_rss_mb\tcrashes\n' >"$log"
for target in "${targets[@]}"; do
  # A crash ends libFuzzer's run; the target is started again on the grown
  # corpus until its share of the time is used, so one fault does not cost
  # the others their turn.
  start=$(date +%s) execs=0 crashes=0 cov=0 ft=0 rss=0
  while :; do
    left=$(( share - ($(date +%s) - start) ))
    [ "$left" -gt 0 ] || break
    out=$(mktemp)
    echo "fuzzing $target for ${left} s" >&2
    if run_target "$target" "$left" "$@" >"$out" 2>&1; then status=0; else status=$?; fi
    n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -n 1)
    execs=$(( execs + ${n:-0} ))
    c=$(grep -oE 'cov: [0-9]+' "$out" | tail -n 1 | cut -d' ' -f2 || true)
    f=$(grep -oE 'ft: [0-9]+' "$out" | tail -n 1 | cut -d' ' -f2 || true)
    r=$(sed -n 's/^stat::peak_rss_mb: *//p' "$out" | tail -n 1)
    [ "${c:-0}" -le "$cov" ] || cov=$c
    [ "${f:-0}" -le "$ft" ] || ft=$f
    [ "${r:-0}" -le "$rss" ] || rss=$r
    if [ "$status" -ne 0 ]; then
      crashes=$(( crashes + 1 ))
      grep -E '^(==[0-9]+==|SUMMARY|artifact_prefix|Test unit written|.*FUZZ_CHECK)' "$out" | head -n 8 >&2 || true
      cp "$out" "$dir/crashes/$target/log-$(date +%Y%m%d-%H%M%S).txt"
      # A target that fails at once (a build fault) would spin here.
      [ "${n:-0}" -gt 0 ] || { rm -f "$out"; break; }
    fi
    rm -f "$out"
  done
  corpus=$(find "$dir/corpus/$target" -type f | wc -l)
  secs=$(( $(date +%s) - start ))
  rate=$(( secs > 0 ? execs / secs : 0 ))
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$commit" "$target" \
    "$secs" "$execs" "$rate" "$cov" "$ft" "$corpus" "$rss" "$crashes" >>"$log"
  tail -n 1 "$log" >&2
done
