#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/build.sh" "$@"
build=${ORVEX_BUILD_DIR:-$here/build}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
