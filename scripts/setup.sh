#!/usr/bin/env bash
# Installs what the build needs from Debian's packages, when missing.
# Idempotent: does nothing (and needs no root) when all is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  liblog4cplus-dev libpng-dev libturbojpeg0-dev libboost-dev libboost-date-time-dev libboost-program-options-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  chromium
  libdc1394-dev
  clang libclang-rt-14-dev clang-format clang-tidy ccache
  python3-dev pybind11-dev python3-numpy python3-pytest
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
run_as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
export DEBIAN_FRONTEND=noninteractive
run_as_root apt-get update -qq
run_as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
