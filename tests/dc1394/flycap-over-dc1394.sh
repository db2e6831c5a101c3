#!/usr/bin/env bash
# The orvex tool with the FlyCapture back end over libdc1394, over the
# simulated world as /dev/fw* devices: list, grab and sync as a Linux user
# with FireWire cameras runs them.
# Usage: flycap-over-dc1394.sh ORVEX_TOOL
set -uo pipefail
tool=$1
here=$(cd "$(dirname "$0")/../.." && pwd)
run() { ORVEX_FLYCAP_SDK=dc1394 "$here/scripts/with-simulated-firewire.sh" "$tool" "$@"; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Without the devices, libdc1394 finds no camera: the SDK really is libdc1394.
none=$(ORVEX_FLYCAP_SDK=dc1394 "$tool" list 2>&1)
[[ $none == *"0 cameras on the FlyCapture buses"* ]] || fail "list without devices: $none"

# The default world's FlyCapture cameras: two Grasshoppers on bus 0, a Flea2
# on bus 1; the Basler cameras are the BCAM driver's.
list=$(run list 2>&1) || fail "list exited with $?"
[[ $list == *"3 cameras on the FlyCapture buses"* ]] || fail "list: $list"
for row in "0     0x00000000006E79A5  Grasshopper GRAS-20S4M  Point Grey Research  0" \
           "1     0x00000000007BE78A  Grasshopper GRAS-50S5M  Point Grey Research  0" \
           "2     0x00000000008A18BF  Flea2 FL2G-50S5M        Point Grey Research  1"; do
  [[ $list == *"$row"* ]] || fail "list lacks \"$row\": $list"
done

# Ten frames written as PNG files, with hardware dates.
grab=$(run grab 0 --count 10 --out "$out" 2>&1) || fail "grab exited with $?: $grab"
pngs=$(find "$out" -name '*.png' | wc -l)
[ "$pngs" -eq 10 ] || fail "grab wrote $pngs PNG files, not 10: $grab"
for f in "$out"/*.png; do
  [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$f is no PNG"
done
[[ $grab =~ "hardware - software date spread: "[0-9.]+" ms" ]] || fail "grab has no hardware dates: $grab"

# The Flea2 on bus 1 follows the master on bus 0.
sync=$(run sync --seconds 8 2>&1) || fail "sync exited with $?: $sync"
[[ $sync == *"synchronized  0x00000000008A18BF"* ]] || fail "sync never synchronized: $sync"

exit $((failures > 0))
