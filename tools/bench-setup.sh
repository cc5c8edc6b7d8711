#!/usr/bin/env bash
# Installs what the benchmarks compare against, on top of tools/setup.sh.
# Not needed to build, run or test the program.
#   libopencv-dev: reference rotation (warpAffine) for bench_pixels
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/setup.sh"
wanted=(libopencv-dev)
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
