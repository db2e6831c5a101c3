#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job on the built-in
# simulated cameras.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/build.sh"
build=${ORVEX_BUILD_DIR:-$here/build}
if [ -x "$build/bin/orvex" ]; then
  "$build/bin/orvex" list "$@"
else
  "$build/bin/orvex-hello" "$@"
fi
