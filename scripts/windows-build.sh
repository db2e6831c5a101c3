#!/usr/bin/env bash
# Builds Orvex for 32-bit Windows into build-win32/ (or $ORVEX_WIN_BUILD_DIR),
# from a clean Debian machine, as root: installs the mingw-w64 toolchain,
# cross-builds log4cplus, GoogleTest and Boost.ProgramOptions, and makes an
# i386 chroot with 32-bit Wine to run the result in. The dependencies and the
# chroot are kept in $ORVEX_WIN_CACHE (default /var/cache/orvex-win) and made
# only once per machine. Extra arguments go to CMake's configure step.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/windows-env.sh
source "$here/scripts/windows-env.sh"
build=${ORVEX_WIN_BUILD_DIR:-$here/build-win32}
step() { echo "== [$(date +%T)] windows: $*"; }

mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}
export DEBIAN_FRONTEND=noninteractive

install_host_packages() {
  local packages=(g++-mingw-w64-i686-posix libboost-dev cmake ninja-build debootstrap dpkg-dev xz-utils googletest)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  step "installing ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Debian source packages, with a deb-src entry of our own for the mirror.
fetch_source() {
  local srcs=/etc/apt/sources.list.d/orvex-win-src.sources
  if [ ! -f "$srcs" ]; then
    printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$mirror" >"$srcs"
    apt-get update -qq
  fi
  (cd "$ORVEX_WIN_CACHE/src" && apt-get source -qq "$@" >/dev/null)
}

cross_configure() {
  nice -n 10 cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$ORVEX_WIN_PREFIX" "$@" >/dev/null
}
cross_install() { nice -n 10 cmake --build "$1" -j2 --target install >/dev/null; }

# log4cplus as a DLL: every module of a process must log through the one
# logger hierarchy. Narrow characters like the library; no thread pool (with it,
# abort() hangs Wine).
build_log4cplus() {
  [ -f "$ORVEX_WIN_PREFIX/lib/cmake/log4cplus/log4cplusConfig.cmake" ] && return
  step "cross-building log4cplus"
  rm -rf "$ORVEX_WIN_CACHE"/src/log4cplus-*
  fetch_source --download-only log4cplus
  (cd "$ORVEX_WIN_CACHE/src" && dpkg-source -x -q log4cplus_*.dsc >/dev/null)
  local source_dir
  source_dir=$(find "$ORVEX_WIN_CACHE/src" -maxdepth 1 -type d -name 'log4cplus-*' | head -n 1)
  cross_configure -S "$source_dir" -B "$ORVEX_WIN_CACHE/b-log4cplus" -DBUILD_SHARED_LIBS=ON \
    -DUNICODE=OFF -DLOG4CPLUS_ENABLE_THREAD_POOL=OFF -DLOG4CPLUS_BUILD_TESTING=OFF \
    -DWITH_UNIT_TESTS=OFF -DLOG4CPLUS_BUILD_LOGGINGSERVER=OFF
  cross_install "$ORVEX_WIN_CACHE/b-log4cplus"
}

build_googletest() {
  [ -f "$ORVEX_WIN_PREFIX/lib/cmake/GTest/GTestConfig.cmake" ] && return
  step "cross-building GoogleTest"
  cross_configure -S /usr/src/googletest -B "$ORVEX_WIN_CACHE/b-googletest" -DBUILD_SHARED_LIBS=OFF
  cross_install "$ORVEX_WIN_CACHE/b-googletest"
}

# Boost: Debian's headers through a link to /usr/include/boost alone, and
# program_options compiled from the matching source.
build_boost() {
  [ -f "$ORVEX_WIN_PREFIX/lib/cmake/Boost-1.74.0/BoostConfig.cmake" ] && return
  step "cross-building Boost.ProgramOptions"
  mkdir -p "$ORVEX_WIN_PREFIX/include"
  ln -sfn /usr/include/boost "$ORVEX_WIN_PREFIX/include/boost"
  rm -rf "$ORVEX_WIN_CACHE"/src/boost*
  fetch_source --download-only boost1.74
  local tarball
  tarball=$(find "$ORVEX_WIN_CACHE/src" -maxdepth 1 -name 'boost1.74_*.orig.tar.*' | head -n 1)
  mkdir -p "$ORVEX_WIN_CACHE/src/boost"
  tar -xf "$tarball" -C "$ORVEX_WIN_CACHE/src/boost" --strip-components=1 --wildcards '*/libs/program_options/src'
  cross_configure -S "$here/cmake/toolchains/boost" -B "$ORVEX_WIN_CACHE/b-boost" \
    -DBOOST_SOURCE_DIR="$ORVEX_WIN_CACHE/src/boost" -DBOOST_INCLUDE_DIR="$ORVEX_WIN_PREFIX/include"
  cross_install "$ORVEX_WIN_CACHE/b-boost"
  rm -f "$ORVEX_WIN_CACHE"/src/boost1.74_*
}

# 32-bit Wine in an i386 chroot: the host cannot take i386 packages beside its
# own (the security index for i386 does not match the amd64 one).
build_chroot() {
  [ -f "$ORVEX_WIN_CHROOT/.orvex-wine-ready" ] && return
  step "making the i386 chroot with Wine"
  rm -rf "$ORVEX_WIN_CHROOT"
  nice -n 10 debootstrap --arch=i386 --variant=minbase bookworm "$ORVEX_WIN_CHROOT" "$mirror" >/dev/null
  printf 'deb %s bookworm main\ndeb %s bookworm-updates main\n' "$mirror" "$mirror" \
    >"$ORVEX_WIN_CHROOT/etc/apt/sources.list"
  chroot "$ORVEX_WIN_CHROOT" apt-get update -qq
  chroot "$ORVEX_WIN_CHROOT" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends wine wine32 >/dev/null
  chroot "$ORVEX_WIN_CHROOT" apt-get clean
  touch "$ORVEX_WIN_CHROOT/.orvex-wine-ready"
}

# Headless: the null graphics driver lets hidden top-level windows be made
# without X, and a crash ends the program instead of waiting in winedbg.
build_wine_prefix() {
  [ -f "$ORVEX_WIN_CHROOT/root/.wine32/.orvex-ready" ] && return
  step "making the Wine prefix"
  windows_mount
  windows_wine wineboot -i >/dev/null 2>&1
  windows_wine wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  windows_wine wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  windows_wine wineserver -w
  touch "$ORVEX_WIN_CHROOT/root/.wine32/.orvex-ready"
}

toolchain=$here/cmake/toolchains/i686-w64-mingw32.cmake
windows_lock
install_host_packages
mkdir -p "$ORVEX_WIN_CACHE/src" "$ORVEX_WIN_PREFIX"
build_log4cplus
build_googletest
build_boost
build_chroot
trap windows_unmount EXIT
build_wine_prefix

step "building Orvex into $build"
# shellcheck source=scripts/ccache-env.sh
source "$here/scripts/ccache-env.sh"
nice -n 10 cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${ccache_args[@]}" \
  -DCMAKE_FIND_ROOT_PATH="$ORVEX_WIN_PREFIX" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$here/scripts/windows-run.sh" \
  -DORVEX_BUILD_BENCHMARKS=OFF "$@" >/dev/null
nice -n 10 cmake --build "$build" -j2
step "built"
