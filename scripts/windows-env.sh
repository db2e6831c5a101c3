# shellcheck shell=bash
# Sourced by the windows-*.sh scripts: where the cached Windows tools live and
# how to run a program under 32-bit Wine in the i386 chroot.
# The work tree is bound into the chroot at its own path, so that build paths
# (and the Z: drive paths Wine makes of them) are the same inside and out.
ORVEX_WIN_CACHE=${ORVEX_WIN_CACHE:-/var/cache/orvex-win}
ORVEX_WIN_PREFIX=$ORVEX_WIN_CACHE/prefix
ORVEX_WIN_CHROOT=$ORVEX_WIN_CACHE/chroot32
ORVEX_WIN_ROOT=${ORVEX_WIN_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export ORVEX_WIN_CACHE ORVEX_WIN_PREFIX ORVEX_WIN_CHROOT ORVEX_WIN_ROOT

windows_mount() {
  local c=$ORVEX_WIN_CHROOT
  mountpoint -q "$c/proc" || mount -t proc proc "$c/proc"
  mountpoint -q "$c/dev" || mount --bind /dev "$c/dev"
  mkdir -p "$c$ORVEX_WIN_ROOT"
  mountpoint -q "$c$ORVEX_WIN_ROOT" || mount --bind "$ORVEX_WIN_ROOT" "$c$ORVEX_WIN_ROOT"
}

# Stops the wineserver first: its open files would keep the mounts busy.
windows_unmount() {
  local c=$ORVEX_WIN_CHROOT m
  [ -d "$c" ] || return 0
  if mountpoint -q "$c/proc"; then
    windows_wine wineserver -k 2>/dev/null || true
    sleep 1
  fi
  for m in "$c$ORVEX_WIN_ROOT" "$c/dev" "$c/proc"; do
    if mountpoint -q "$m"; then umount "$m" 2>/dev/null || umount -l "$m"; fi
  done
}

windows_wine() {
  chroot "$ORVEX_WIN_CHROOT" env -u DISPLAY HOME=/root WINEPREFIX=/root/.wine32 WINEARCH=win32 \
    WINEDEBUG=-all "$@"
}

# One run at a time per machine: the chroot's mounts and its one wineserver
# are shared by every work tree. Held until the calling script ends.
windows_lock() {
  mkdir -p "$ORVEX_WIN_CACHE"
  exec 9>"$ORVEX_WIN_CACHE/.lock"
  flock 9
}
