#!/usr/bin/env bash
# Builds the fuzzers with clang (ASan + UBSan + libFuzzer) in their own build
# folder and runs them within one total time, shared evenly among the
# targets. Fails on any crash, sanitizer report, leak or build error.
#
# Each target starts from its seeds in fuzz/corpus/<name> plus what earlier
# runs on this machine found (kept outside the work tree, in
# $ORVEX_FUZZ_CACHE), and every input that adds coverage is merged back
# there. With --update-corpus the new finds are merged into fuzz/corpus too,
# ready to commit.
#
#   scripts/run-fuzz.sh [--update-corpus] [total seconds]   default 120
#   ORVEX_FUZZ_BUILD_DIR=<dir>     default <repo>/build-fuzz
#   ORVEX_FUZZ_CACHE=<dir>         default ~/.cache/orvex-fuzz
set -euo pipefail

update_corpus=0
if [ "${1:-}" = "--update-corpus" ]; then
  update_corpus=1
  shift
fi
total=${1:-120}
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVEX_FUZZ_BUILD_DIR:-$repo/build-fuzz}
cache=${ORVEX_FUZZ_CACHE:-$HOME/.cache/orvex-fuzz}
jobs=${ORVEX_FUZZ_JOBS:-2}

# corpus folder, target, longest input
targets=(
  "chunks orvex_fuzz_chunk_parser 4096"
  "frame-info orvex_fuzz_frame_info 64"
  "device-name orvex_fuzz_device_name 256"
  "firmware-version orvex_fuzz_firmware_version 256"
  "world-file orvex_fuzz_world_file 4096"
)
per_target=$((total / ${#targets[@]}))
[ "$per_target" -ge 1 ] || per_target=1

# shellcheck source=scripts/ccache-env.sh
source "$repo/scripts/ccache-env.sh"
CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -G Ninja "${ccache_args[@]}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVEX_BUILD_FUZZERS=ON -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCHMARKS=OFF >/dev/null
names=()
for t in "${targets[@]}"; do
  read -r _ target _ <<<"$t"
  names+=("$target")
done
cmake --build "$build" --target "${names[@]}" -j "$jobs"

artifacts="$build/fuzz-artifacts/"
mkdir -p "$artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

for t in "${targets[@]}"; do
  read -r folder target max_len <<<"$t"
  seeds="$repo/fuzz/corpus/$folder"
  kept="$cache/$folder"
  work="$build/fuzz-corpus/$folder"
  mkdir -p "$kept"
  rm -rf "$work"
  mkdir -p "$work"
  # The seeds and the kept finds stay untouched while the target runs:
  # libFuzzer writes what it finds into the first folder only.
  echo "fuzz: $target for ${per_target} s"
  "$build/bin/$target" -max_total_time="$per_target" -max_len="$max_len" \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$work" "$seeds" "$kept"
  # Keep only the inputs that add coverage to what was already kept.
  "$build/bin/$target" -merge=1 -max_len="$max_len" "$kept" "$work" 2>/dev/null
  if [ "$update_corpus" -eq 1 ]; then
    "$build/bin/$target" -merge=1 -max_len="$max_len" "$seeds" "$work" 2>/dev/null
  fi
done
echo "fuzz: ${#targets[@]} targets, ${per_target} s each, no findings"
