#!/usr/bin/env bash
# Runs clang-tidy (the repo's .clang-tidy) over the library's sources, the
# Win32 subset and the companions, with the compile commands of a build, and
# fails on any finding. Build first (scripts/build.sh).
#
#   scripts/clang-tidy.sh [build folder]     default: $ORVEX_BUILD_DIR or build
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${ORVEX_BUILD_DIR:-$here/build}}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "clang-tidy: $build/compile_commands.json is missing: build first" >&2
  exit 2
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
run-clang-tidy -p "$build" -j 2 -quiet "^$here/(src|platform|companions)/.*\.cpp$" >"$log" 2>&1 || status=$?

# run-clang-tidy always asks for colours: strip them. A header's finding
# repeats for every file that includes it: list it once.
# Headers reached through the layers' include roots (links in the build
# tree) are named by their place in the sources.
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E ': (warning|error): ' |
  while IFS= read -r line; do
    file=${line%%:*}
    echo "$(realpath "$file"):${line#*:}"
  done | sort -u || true)
if [ -n "$findings" ]; then
  echo "$findings"
  echo "clang-tidy: $(echo "$findings" | wc -l) findings" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  cat "$log"
  echo "clang-tidy: failed (status $status)" >&2
  exit 1
fi
echo "clang-tidy: no findings"
