#!/usr/bin/env bash
# Runs clang-tidy (the repo's .clang-tidy) over the library's sources, the
# Win32 subset and the companions, with the compile commands of a build, and
# fails on any finding. Sources already known clean with the same inputs are
# skipped (scripts/clang_tidy_cached.py says what counts); --all checks every
# source. Build first (scripts/build.sh).
#
#   scripts/clang-tidy.sh [--all] [build folder]     default: $ORVEX_BUILD_DIR or build
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
all=()
if [ "${1:-}" = "--all" ]; then
  all=(--all)
  shift
fi
build=${1:-${ORVEX_BUILD_DIR:-$here/build}}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "clang-tidy: $build/compile_commands.json is missing: build first" >&2
  exit 2
fi
here_real=$(realpath "$here")
python3 "$here/scripts/clang_tidy_cached.py" "$build" "$here" "^$here_real/(src|platform|companions)/.*\.cpp$" "${all[@]}"
