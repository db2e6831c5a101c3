#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from the repo's .clang-format,
# naming each place. Fix with: clang-format -i <file>...
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.c' '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format --dry-run --Werror
echo "format: $(git ls-files '*.c' '*.cpp' '*.h' '*.hpp' | wc -l) files clean"
