#!/usr/bin/env bash
# Sets up the machine, builds, and starts Corvanta.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh" >/dev/null
exec "$root/build/corvanta" "$@"
