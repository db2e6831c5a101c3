#!/usr/bin/env bash
# Configures and builds into a folder (default: build). Extra arguments go to
# CMake's configure step, e.g. -DORVEX_SANITIZE=address,undefined.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVEX_BUILD_DIR:-$here/build}
"$here/scripts/setup.sh"
# shellcheck source=scripts/ccache-env.sh
source "$here/scripts/ccache-env.sh"
cmake -S "$here" -B "$build" -G Ninja "${ccache_args[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
