#!/usr/bin/env python3
"""Frames per second and CPU per frame through Python against the C++ host
path, at VGA and 5 MP, in one run over the simulated cameras.

    PYTHONPATH=build/python python3 bench/python/bench_frames.py [--build build] [--frames 200] [--runs 3]

Both read every frame and touch one pixel; neither copies. CPU is the whole
process's (acquisition and simulator threads included), per frame; "(host)"
is the waiting thread's own share. One run is too noisy on a shared machine
to judge by: the runs alternate the two paths, and the goal is judged on the
medians.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

import orvex

SIZES = [("VGA", 0, 640, 480), ("5 MP", 1, 2448, 2048)]  # camera position: GRAS-20S4M, GRAS-50S5M


def cpp_host(binary, position, width, height, frames):
    out = subprocess.run([binary, "--camera", str(position), "--width", str(width), "--height", str(height),
                          "--frames", str(frames)], capture_output=True, text=True, timeout=600, check=True)
    words = out.stdout.split()
    figures = dict(zip(words[::2], words[1::2]))
    return float(figures["fps"]), float(figures["cpu_us_per_frame"]), float(figures["host_thread_us_per_frame"])


def python_path(position, width, height, frames):
    with orvex.open(orvex.cameras("flycap")[position]) as cam:
        cam.roi = (0, 0, width, height)
        cam.start()
        checksum = 0
        cpu0, wall0, host0 = time.process_time(), time.monotonic(), time.thread_time()
        for frame in cam.frames(count=frames, timeout=5.0):
            checksum += int(frame[0, 0])
        wall, cpu, host = time.monotonic() - wall0, time.process_time() - cpu0, time.thread_time() - host0
        del frame
        cam.stop()
    return frames / wall, cpu * 1e6 / frames, host * 1e6 / frames


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.environ.get("ORVEX_BUILD_DIR", "build"))
    parser.add_argument("--frames", type=int, default=200)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    if args.frames < 1 or args.runs < 1:
        sys.exit("bench_frames: --frames and --runs must be at least 1")
    binary = os.path.join(args.build, "bin", "python_cpp_host_bench")
    if not os.access(binary, os.X_OK):
        sys.exit(f"bench_frames: {binary} not built (configure with ORVEX_BUILD_BENCHMARKS=ON)")
    print(f"{'size':6} {'run':>4} {'C++ fps':>8} {'C++ us/frame':>13} {'(host)':>7} {'Py fps':>8} "
          f"{'Py us/frame':>12} {'(host)':>7} {'ratio':>6}")
    figures = {label: [] for label, *_ in SIZES}
    for run in range(1, args.runs + 1):
        for label, position, width, height in SIZES:
            cpp = cpp_host(binary, position, width, height, args.frames)
            py = python_path(position, width, height, args.frames)
            figures[label].append(cpp + py + (py[1] / cpp[1],))
            print_row(label, str(run), figures[label][-1])
    worst = 0.0
    for label, rows in figures.items():
        medians = tuple(statistics.median(column) for column in zip(*rows))
        worst = max(worst, medians[-1])
        print_row(label, "med", medians)
    print(f"goal: Python CPU per frame at most 1.2x the C++ host path; worst median {worst:.2f}x")


def print_row(label, run, row):
    cpp_fps, cpp_cpu, cpp_host_cpu, py_fps, py_cpu, py_host_cpu, ratio = row
    print(f"{label:6} {run:>4} {cpp_fps:8.1f} {cpp_cpu:13.1f} {cpp_host_cpu:7.1f} {py_fps:8.1f} {py_cpu:12.1f} "
          f"{py_host_cpu:7.1f} {ratio:6.2f}", flush=True)


if __name__ == "__main__":
    main()
