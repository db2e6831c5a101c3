# shellcheck shell=bash
# Sourced by the build scripts: every compiler call goes through ccache when
# it is installed, with its cache outside the work tree so that later clones
# on the same machine reuse it. Paths are hashed relative to the work tree
# and without the build folder, so that two clones of the same commit (CI's
# fresh clone, a developer's checkout) share their objects.
# Sets ccache_args for CMake's configure step.
ccache_args=()
if command -v ccache >/dev/null 2>&1 && [ "${ORVEX_CCACHE:-1}" != 0 ]; then
  export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
  export CCACHE_NOHASHDIR=1
  export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-12G}
  ccache_args=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
