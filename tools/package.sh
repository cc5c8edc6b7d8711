#!/usr/bin/env bash
# Builds the Debian package build/corvanta_<version>_<arch>.deb from the build in
# build/ (or CORVANTA_BUILD_DIR), checks it with lintian, and prints its path on the
# last line. Install it with   sudo apt-get install ./build/corvanta_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANTA_BUILD_DIR:-$root/build}
if [ ! -f "$build/CPackConfig.cmake" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >&2
deb=$(cd "$build" && cpack -G DEB 2>&1 | tee /dev/stderr | sed -n 's/.*package: \(.*\.deb\) generated\./\1/p' | tail -n 1)
[ -f "$deb" ] || { echo "cpack wrote no package" >&2; exit 1; }
if command -v lintian >/dev/null; then
  # Errors fail the build of the package; warnings are shown for the record.
  lintian --fail-on error "$deb" >&2 || {
    echo "lintian reports errors on $deb" >&2
    exit 1
  }
else
  echo "lintian is not installed: the package is not checked (tools/setup.sh installs it)" >&2
fi
echo "$deb"
