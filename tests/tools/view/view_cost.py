"""What the viewer costs, measured in one run of `orvex view` on the
simulated world: the process's CPU per acquired image while nobody watches,
then while a client takes images as fast as it can draw them (one request
after the other, as the page does), alternating so that both phases see the
same machine. Prints the figures; asserts nothing.

    python3 view_cost.py build/bin/orvex [CAMERA] [SECONDS_PER_PHASE]"""

import os
import sys
import time

from viewtool import Viewer


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def phase(viewer, camera, seconds, watch):
    received = viewer.camera(camera)["received"]
    cpu = cpu_seconds(viewer.process.pid)
    frames = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if watch:
            status, _ = viewer.request("GET", "/api/cameras/%d/frame.png" % camera)
            frames += status == 200
        else:
            time.sleep(0.05)
    return cpu_seconds(viewer.process.pid) - cpu, viewer.camera(camera)["received"] - received, frames


def main():
    tool = sys.argv[1]
    camera = int(sys.argv[2]) if len(sys.argv) > 2 else 2
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 5.0
    viewer = Viewer(tool)
    try:
        viewer.request("POST", "/api/cameras/%d/start" % camera)
        viewer.wait_for(lambda: viewer.camera(camera)["received"] > 0)
        totals = {False: [0.0, 0, 0], True: [0.0, 0, 0]}
        for watch in (False, True, False, True):
            cpu, images, frames = phase(viewer, camera, seconds, watch)
            totals[watch][0] += cpu
            totals[watch][1] += images
            totals[watch][2] += frames
        idle_cpu, idle_images, _ = totals[False]
        watched_cpu, watched_images, frames = totals[True]
        per_image_idle = idle_cpu / max(idle_images, 1)
        per_image_watched = watched_cpu / max(watched_images, 1)
        print("camera %d, %.0f s per phase, two phases each" % (camera, seconds))
        print("images acquired: %d unwatched, %d watched; frames displayed: %d (%.1f/s)"
              % (idle_images, watched_images, frames, frames / (2 * seconds)))
        print("CPU per image, nobody watching:   %.3f ms" % (1000 * per_image_idle))
        print("CPU per image, viewer attached:   %.3f ms (%.2fx)"
              % (1000 * per_image_watched, per_image_watched / max(per_image_idle, 1e-9)))
        extra = watched_cpu - per_image_idle * watched_images
        print("CPU per displayed frame (beyond acquisition): %.3f ms" % (1000 * extra / max(frames, 1)))
    finally:
        viewer.stop()


if __name__ == "__main__":
    main()
