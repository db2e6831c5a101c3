#!/usr/bin/env python3
"""Lists the cameras, sets a region and a shutter on the first one, grabs
frames into one NumPy array and prints each frame's hardware date.

    PYTHONPATH=build/python python3 examples/python/grab_frames.py --count 100
"""
import argparse
import sys

import numpy as np

import orvex


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--backend", default="flycap", choices=["flycap", "bcam"])
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--roi", type=int, nargs=4, default=[0, 0, 640, 480], metavar=("X", "Y", "W", "H"))
    parser.add_argument("--shutter", type=int, default=None, help="in the camera's register units")
    args = parser.parse_args()
    if args.count <= 0:
        parser.error("--count must be positive")

    cameras = orvex.cameras(args.backend)
    for entry in cameras:
        print(f"{entry.port}: {entry.guid} {entry.vendor} {entry.model} on {entry.bus}")
    if not cameras:
        print("no camera", file=sys.stderr)
        return 1

    with orvex.open(cameras[0]) as cam:
        cam.roi = tuple(args.roi)
        if args.shutter is not None:
            cam.shutter = args.shutter
        # Hardware dates come with the cycle time stamp the camera appends.
        cam.enable_smart_feature(orvex.SmartFeature.cycle_time_stamp)
        x, y, width, height = cam.roi
        stack = None
        dates = []
        cam.start()
        for i, frame in enumerate(cam.frames(count=args.count, timeout=5.0)):
            if stack is None:
                stack = np.empty((args.count,) + frame.shape, dtype=frame.dtype)
            stack[i] = frame  # the one copy: out of the camera's buffer into ours
            dates.append((frame.index, frame.hw_date))
        cam.stop()

    for index, hw_date in dates:
        print(f"frame {index}: hardware date {'unknown' if hw_date is None else f'{hw_date:.6f}'}")
    print(f"grabbed {stack.shape[0]} frames of {width}x{height}, mean level {stack.mean():.1f}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except orvex.Error as error:
        print(f"grab_frames: {error}", file=sys.stderr)
        sys.exit(1)
