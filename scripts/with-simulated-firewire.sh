#!/usr/bin/env bash
# Runs PROGRAM [ARGS...] with the simulated world's cameras as Linux firewire
# devices (/dev/fw0, /dev/fw1, ...): the world of the file named by
# ORVEX_SIM_WORLD, or the built-in default one. Any program that reaches
# IEEE 1394 cameras through /dev/fw* (libdc1394 among them) drives them
# unchanged.
#
# ORVEX_SIM_FIREWIRE_LIB names the device library when it is not in the
# build's lib folder (build/lib, or ORVEX_BUILD_DIR/lib).
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM [ARGS...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")/.." && pwd)
lib=${ORVEX_SIM_FIREWIRE_LIB:-${ORVEX_BUILD_DIR:-$here/build}/lib/liborvex_sim_firewire.so}
if [ ! -f "$lib" ]; then
  echo "$0: $lib not found (build the orvex_sim_firewire target, or set ORVEX_SIM_FIREWIRE_LIB)" >&2
  exit 2
fi
if [ -n "${ORVEX_SIM_WORLD:-}" ] && [ ! -r "$ORVEX_SIM_WORLD" ]; then
  echo "$0: world file \"$ORVEX_SIM_WORLD\" cannot be read" >&2
  exit 2
fi
# A program built with a sanitizer wants its runtime loaded first: it goes
# ahead of the device library, whose few C library calls the sanitizer's
# own wrappers then still see.
preload=$lib
if program=$(command -v "$1"); then
  runtime=$(ldd "$program" 2>/dev/null | sed -n 's/.*=> \(\/[^ ]*lib[at]san\.so[^ ]*\).*/\1/p' | head -n 1)
  [ -n "$runtime" ] && preload="$runtime:$lib"
fi
export LD_PRELOAD="$preload${LD_PRELOAD:+:$LD_PRELOAD}"
exec "$@"
