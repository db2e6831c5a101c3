#!/usr/bin/env bash
# Runs one Windows program under 32-bit Wine in the chroot, in the current
# folder, as CTest's emulator for the cross build: windows-run.sh PROGRAM ARGS...
# The chroot must be mounted (windows-test.sh does it). A program that runs
# longer than $ORVEX_WIN_TIMEOUT seconds (default 300) is killed.
set -euo pipefail
# shellcheck source=scripts/windows-env.sh
source "$(dirname "$0")/windows-env.sh"
timeout=${ORVEX_WIN_TIMEOUT:-300}
# shellcheck disable=SC2016 # expanded by the shell inside the chroot
exec chroot "$ORVEX_WIN_CHROOT" env -u DISPLAY HOME=/root WINEPREFIX=/root/.wine32 WINEARCH=win32 \
  WINEDEBUG="${WINEDEBUG:--all}" sh -c 'cd "$1" && shift && exec timeout -k 10 "$0" wine "$@"' \
  "$timeout" "$PWD" "$@"
