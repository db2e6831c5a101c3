#!/bin/sh
# Builds the fuzzers with clang (ASan + UBSan + libFuzzer) in their own
# build folder and runs each for a bounded time from a copy of its seed
# corpus. Fails on any crash, sanitizer report or build error.
#
#   scripts/run-fuzz.sh [seconds]        default 60
#   ORVEX_FUZZ_BUILD_DIR=<dir>           default <repo>/build-fuzz
set -eu

seconds=${1:-60}
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVEX_FUZZ_BUILD_DIR:-$repo/build-fuzz}
jobs=${ORVEX_FUZZ_JOBS:-2}

CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVEX_BUILD_FUZZERS=ON -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCHMARKS=OFF
cmake --build "$build" --target orvex_fuzz_chunk_parser orvex_fuzz_frame_info orvex_fuzz_device_name \
    orvex_fuzz_firmware_version orvex_fuzz_world_file -j "$jobs"

# The seeds stay untouched: libFuzzer adds what it finds to the working copy.
corpus="$build/fuzz-corpus/chunks"
rm -rf "$corpus"
mkdir -p "$corpus"
cp "$repo"/fuzz/corpus/chunks/* "$corpus"/

artifacts="$build/fuzz-artifacts/"
mkdir -p "$artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# libFuzzer exits non-zero on a crash, a sanitizer report or a leak.
"$build"/bin/orvex_fuzz_chunk_parser -max_total_time="$seconds" -max_len=4096 \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus"

# The frame-information decoding, from its own seeds, for the same time.
frameInfoCorpus="$build/fuzz-corpus/frame-info"
rm -rf "$frameInfoCorpus"
mkdir -p "$frameInfoCorpus"
cp "$repo"/fuzz/corpus/frame-info/* "$frameInfoCorpus"/
"$build"/bin/orvex_fuzz_frame_info -max_total_time="$seconds" -max_len=64 \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$frameInfoCorpus"

# The BCAM device names and firmware version texts, each from its own seeds
# for the same time.
for target in device-name firmware-version; do
    targetCorpus="$build/fuzz-corpus/$target"
    rm -rf "$targetCorpus"
    mkdir -p "$targetCorpus"
    cp "$repo"/fuzz/corpus/$target/* "$targetCorpus"/
    "$build"/bin/orvex_fuzz_$(echo "$target" | tr - _) -max_total_time="$seconds" -max_len=256 \
        -artifact_prefix="$artifacts" -print_final_stats=1 "$targetCorpus"
done

# The world-file reader, from the documented examples, for the same time.
worldCorpus="$build/fuzz-corpus/world-file"
rm -rf "$worldCorpus"
mkdir -p "$worldCorpus"
cp "$repo"/fuzz/corpus/world-file/* "$worldCorpus"/
"$build"/bin/orvex_fuzz_world_file -max_total_time="$seconds" -max_len=4096 \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$worldCorpus"
