#!/bin/sh
# Our acquisition pipeline against the peer benchmark (the Aravis fake
# camera, /work/shared/peers/aravis-fake, built elsewhere: it needs
# libaravis-dev, which the project does not depend on), interleaved ABAB in
# one sitting: for every cell, RUNS rounds of peer then ours, medians of
# each, and the ratio ours/peer of the CPU per image (process CPU, every
# thread, over the timed window, per image the host received). ours_add is
# our CPU per image the acquisition thread added to the images buffer
# (unpaced, the thread outruns the host and the buffer drops the surplus).
#
# Modes, no pixel fill in either:
#   unpaced      peer: -F none -u   (frame period forced to 1 us)
#                ours: -u           (one image per lock of the simulated SDK)
#   paced        peer: -F none      (its maximum, 1000 fps)
#                ours: the fastest the IEEE 1394 bus carries at that size
#                      (S800: one packet of at most 8192 bytes per 125 us
#                      cycle, so 8000 / ceil(bytes / 8192) images per second;
#                      1000 fps is out of reach at every size below)
#   paced-same   peer at our paced rate, to compare at one rate; beside
#                them the relay floor at that rate (peer_modes_bench -b:
#                a timer thread handing a counter on to the main thread,
#                with 2 threads, as the peer has (stream, main) and as ours
#                has (acquisition thread, host: the simulated camera runs
#                no thread), and with 3), what wake-ups alone cost here
#
#   PEER=/tmp/aravis-fake/bench OURS=build/bin/peer_modes_bench \
#       bench/acquisition/run-peer-abab.sh
#
# Environment: PEER, OURS, BASE (another build's peer_modes_bench, e.g. the
# main branch's, run in every round after ours: adds its CPU per image and
# ours / base), RUNS (3), SIZES (the peer's: "640x480 1280x960
# 2048x2048 2448x2048"), ONLY (modes to run), SECONDS_PACED (3: images per
# paced run = rate x this), F_UNPACED (20000), QUIET_MAX_S (20: before each
# cell, wait up to this long for fewer than 0.15 CPUs busy). Raw lines go to
# RAW (default /tmp/peer-abab-<time>.txt). Not part of CI.
set -eu

here=$(cd "$(dirname "$0")/../.." && pwd)
PEER=${PEER:-/tmp/aravis-fake/bench}
OURS=${OURS:-$here/build/bin/peer_modes_bench}
BASE=${BASE:-}
RUNS=${RUNS:-3}
SIZES=${SIZES:-"640x480 1280x960 2048x2048 2448x2048"}
ONLY=${ONLY:-"unpaced paced paced-same"}
SECONDS_PACED=${SECONDS_PACED:-3}
F_UNPACED=${F_UNPACED:-20000}
QUIET_MAX_S=${QUIET_MAX_S:-20}
RAW=${RAW:-/tmp/peer-abab-$(date +%Y%m%d-%H%M%S).txt}

for program in "$PEER" "$OURS" ${BASE:+"$BASE"}; do
	if [ ! -x "$program" ]; then
		echo "run-peer-abab: $program is not built" >&2
		exit 1
	fi
done
: > "$RAW"

busy_jiffies() { awk '/^cpu /{print $2+$3+$4+$7+$8+$9; exit}' /proc/stat; }
wait_quiet() {
	waited=0
	while [ "$waited" -lt "$QUIET_MAX_S" ]; do
		b0=$(busy_jiffies); sleep 1; b1=$(busy_jiffies)
		[ $((b1 - b0)) -lt 15 ] && return 0
		waited=$((waited + 1))
	done
}
median() { sort -g | awk '{v[NR]=$1} END {if (NR == 0) {print "-"; exit} print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
# The fastest rate of one camera on an S800 bus at a size, 8-bit mono.
bus_rate() { awk -v b="$1" 'BEGIN {p = int((b + 8191) / 8192); printf "%.4f", 8000 / p}'; }

# One run: appends "stdout-line # stderr-line" to file $1; the rest is the command.
run_one() {
	out=$1; shift
	line=$("$@" 2> "$out.err") || { echo "run-peer-abab: failed: $*" >&2; cat "$out.err" >&2; exit 1; }
	echo "$line $(cat "$out.err")" >> "$out"
}

echo "# $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r)"
echo "# $RUNS rounds per cell, peer then ours (ABAB), medians; CPU = process CPU per image, us; load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-11s %-10s %9s %9s %10s %10s %7s %9s %8s %8s %9s %9s' mode size peer_fps ours_fps peer_us ours_us ratio \
	ours_add fgn_peer fgn_ours floor2_us floor3_us
[ -n "$BASE" ] && printf ' %9s %9s' base_us ours/base
echo
for mode in unpaced paced paced-same; do
	case " $ONLY " in *" $mode "*) ;; *) continue ;; esac
	for size in $SIZES; do
		w=${size%x*}; h=${size#*x}
		oversize=""
		if [ "$w" -gt 2048 ] || [ "$h" -gt 2048 ]; then oversize="-S"; fi
		rate=$(bus_rate $((w * h)))
		case $mode in
		unpaced)
			peer_args="-F none -u -f $F_UNPACED"
			ours_args="-u -f $F_UNPACED" ;;
		paced)
			peer_args="-F none -f $((SECONDS_PACED * 1000))"
			ours_args="-f $(awk -v r="$rate" -v s="$SECONDS_PACED" 'BEGIN {printf "%d", r * s}')" ;;
		paced-same)
			frames=$(awk -v r="$rate" -v s="$SECONDS_PACED" 'BEGIN {printf "%d", r * s}')
			peer_args="-F none -r $rate -f $frames"
			ours_args="-f $frames" ;;
		esac
		wait_quiet
		a=$(mktemp); b=$(mktemp); c=$(mktemp); f2=$(mktemp); f3=$(mktemp)
		i=0
		while [ "$i" -lt "$RUNS" ]; do
			# shellcheck disable=SC2086
			run_one "$a" "$PEER" -w "$w" -H "$h" $peer_args $oversize
			# shellcheck disable=SC2086
			run_one "$b" "$OURS" -w "$w" -H "$h" $ours_args
			if [ -n "$BASE" ]; then
				# shellcheck disable=SC2086
				run_one "$c" "$BASE" -w "$w" -H "$h" $ours_args
			fi
			if [ "$mode" = paced-same ]; then
				# shellcheck disable=SC2086
				run_one "$f2" "$OURS" -w "$w" -H "$h" -b 2 -r "$rate" $ours_args
				# shellcheck disable=SC2086
				run_one "$f3" "$OURS" -w "$w" -H "$h" -b 3 -r "$rate" $ours_args
			fi
			i=$((i + 1))
		done
		{ echo "## mode=$mode size=$size peer: $peer_args $oversize; ours: $ours_args"; cat "$a" "$b" "$c" "$f2" "$f3"; } >> "$RAW"
		floor2=$(awk '{print $8}' "$f2" | median); floor3=$(awk '{print $8}' "$f3" | median)
		pf=$(awk '{print $5}' "$a" | median); of=$(awk '{print $5}' "$b" | median)
		pc=$(awk '{print $8}' "$a" | median); oc=$(awk '{print $8}' "$b" | median)
		add=$(sed -n 's/.*cpu_us_per_added=\([0-9.]*\).*/\1/p' "$b" | median)
		fa=$(sed -n 's/.*foreign_cpus=\([0-9.]*\).*/\1/p' "$a" | median)
		fb=$(sed -n 's/.*foreign_cpus=\([0-9.]*\).*/\1/p' "$b" | median)
		printf '%-11s %-10s %9s %9s %10s %10s %7s %9s %8s %8s %9s %9s' "$mode" "$size" "$pf" "$of" "$pc" "$oc" \
			"$(awk -v o="$oc" -v p="$pc" 'BEGIN {printf "%.2f", o / p}')" "$add" "$fa" "$fb" "${floor2:--}" "${floor3:--}"
		if [ -n "$BASE" ]; then
			bc=$(awk '{print $8}' "$c" | median)
			printf ' %9s %9s' "$bc" "$(awk -v o="$oc" -v b="$bc" 'BEGIN {printf "%.2f", o / b}')"
		fi
		echo
		rm -f "$a" "$a.err" "$b" "$b.err" "$c" "$c.err" "$f2" "$f2.err" "$f3" "$f3.err"
	done
done
echo "# raw: $RAW"
