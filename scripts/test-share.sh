#!/usr/bin/env bash
# Prints the share of test code in the project: non-blank, non-comment lines
# of C++ (.h, .hpp, .cpp) under tests/ plus the test-only support of the
# Win32 subset, divided by the same count over all code folders.
#
#   scripts/test-share.sh            one summary line
#   scripts/test-share.sh --by-area  test lines per tests/<area> as well
set -euo pipefail
cd "$(dirname "$0")/.."

code_dirs=(src include platform companions sim tools tests bench fuzz)
# The switches tests use to steer the Win32 subset: test code that ships
# nowhere, wherever the build keeps it.
test_support_globs=(
  'platform/include/orvex/win32_testing.h'
  'platform/testing/*'
  'platform/src/Testing.cpp'
)

# Lines that are neither blank nor only comment (// lines, /* */ blocks).
code_lines() {
  awk '
    {
      line = $0
      if (in_block) {
        end = index(line, "*/")
        if (end == 0) next
        line = substr(line, end + 2)
        in_block = 0
      }
      while ((start = index(line, "/*")) > 0) {
        before = substr(line, 1, start - 1)
        rest = substr(line, start + 2)
        end = index(rest, "*/")
        if (end == 0) { line = before; in_block = 1; break }
        line = before substr(rest, end + 2)
      }
      sub(/\/\/.*/, "", line)
      if (line ~ /[^ \t\r]/) n++
    }
    END { print n + 0 }' "$@" /dev/null
}

cpp_files() {
  find "$@" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' \) 2>/dev/null | sort
}

is_test_support() {
  local file=$1 glob
  for glob in "${test_support_globs[@]}"; do
    # shellcheck disable=SC2053
    [[ $file == $glob ]] && return 0
  done
  return 1
}

mapfile -t all < <(cpp_files "${code_dirs[@]}")
tests=()
for f in "${all[@]}"; do
  if [[ $f == tests/* ]] || is_test_support "$f"; then
    tests+=("$f")
  fi
done

total=$(code_lines "${all[@]}")
test_lines=$(code_lines "${tests[@]}")
awk -v t="$test_lines" -v a="$total" \
  'BEGIN { printf "test share: %d / %d code lines = %.1f%%\n", t, a, 100 * t / a }'

if [[ ${1:-} == --by-area ]]; then
  for area in tests/*/; do
    mapfile -t files < <(cpp_files "$area")
    printf '  %-20s %6d\n' "$area" "$(code_lines "${files[@]}")"
  done
fi
