#!/usr/bin/env bash
# Configures and builds the fuzz targets with clang into build-fuzz/ and
# prints that folder's path on the last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCORVANTA_FUZZ=ON -DCORVANTA_SANITIZE=ON \
  -DCORVANTA_BUILD_TESTS=OFF -DCORVANTA_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target fuzzers -j"$(nproc)" >&2
echo "$dir"
