"""What the viewer costs, measured in one run of `orvex view` on the
simulated world, alternating phases so that both see the same machine:
while nobody watches, then while a client takes images on the browser's
next animation frame after an image has loaded (at most CLIENT_FPS, default
60, a second; CLIENT_FPS=0 asks back to back, a client faster than any
browser). The page itself also waits for the camera's period; this client
does not, so that the cost of asking again for the kept image shows. Prints, per phase, the CPU
of the acquisition's threads (those that appear when the camera starts) per
acquired image, the whole process's CPU per image, and the viewer's own CPU
per displayed new image and per answer (a client faster than the camera
gets the kept image again). FRAME names the route the client asks:
frame (default, what the page asks: JPEG where the build has it) or
frame.png. Asserts nothing.

    python3 view_cost.py build/bin/orvex [CAMERA] [SECONDS_PER_PHASE] [VIEW OPTIONS...]

CAMERA is the camera's id on the page (a port, or bcam-PORT with
--backend all); VIEW OPTIONS go to `orvex view` (e.g. --sync 0 to count the
synchronisation controller in both phases)."""

import os
import sys
import time
import urllib.request

from viewtool import Viewer

CLIENT_FPS = float(os.environ.get("CLIENT_FPS", "60"))
FRAME = os.environ.get("FRAME", "frame")


def thread_ids(pid):
    return set(os.listdir("/proc/%d/task" % pid))


def cpu_ns(pid, tids=None):
    """CPU time of the given threads (all when None), in nanoseconds."""
    total = 0
    for tid in tids if tids is not None else thread_ids(pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as stat:
                total += int(stat.read().split()[0])
        except OSError:
            pass  # a thread that ended
    return total


def reading(viewer, camera):
    return next(c for c in viewer.state()["cameras"] if c["id"] == camera)


def phase(viewer, camera, seconds, watch, acquisition):
    pid = viewer.process.pid
    start = reading(viewer, camera)
    whole, acq = cpu_ns(pid), cpu_ns(pid, acquisition)
    answers, indexes = 0, set()
    end = time.monotonic() + seconds
    frame = 1.0 / CLIENT_FPS if CLIENT_FPS > 0 else 0.0
    while time.monotonic() < end:
        if watch:
            if frame:
                time.sleep(frame - time.monotonic() % frame)  # the next animation frame
            url = "%s/api/cameras/%s/%s" % (viewer.base, camera, FRAME)
            try:
                with urllib.request.urlopen(url, timeout=10) as response:
                    response.read()
                    answers += 1
                    indexes.add(response.headers["X-Orvex-Index"])
            except OSError:
                pass
        else:
            time.sleep(0.05)
    end = reading(viewer, camera)
    return {"whole": cpu_ns(pid) - whole, "acquisition": cpu_ns(pid, acquisition) - acq,
            "images": end["received"] - start["received"], "drops": end["drops"] - start["drops"],
            "answers": answers, "new": len(indexes)}


def main():
    tool = sys.argv[1]
    camera = sys.argv[2] if len(sys.argv) > 2 else "2"
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 5.0
    viewer = Viewer(tool, *sys.argv[4:])
    try:
        viewer.state()  # served: the HTTP threads exist from here on
        before = thread_ids(viewer.process.pid)
        viewer.request("POST", "/api/cameras/%s/start" % camera)
        viewer.wait_for(lambda: reading(viewer, camera)["received"] > 0)
        acquisition = thread_ids(viewer.process.pid) - before
        totals = {False: {}, True: {}}
        for watch in (False, True, False, True):
            for key, value in phase(viewer, camera, seconds, watch, acquisition).items():
                totals[watch][key] = totals[watch].get(key, 0) + value
        idle, watched = totals[False], totals[True]
        per = lambda ns, n: ns / 1e6 / max(n, 1)  # ms per item
        print("camera %s, %s, %.0f s per phase, two phases each%s; %d acquisition thread(s); client at %s"
              % (camera, FRAME, seconds, (" (view " + " ".join(sys.argv[4:]) + ")") if sys.argv[4:] else "",
                 len(acquisition), "%g requests/s at most" % CLIENT_FPS if CLIENT_FPS > 0 else "full speed"))
        print("images acquired: %d unwatched, %d watched (missed: %d, %d); answers: %d (%.1f/s), "
              "new images displayed: %d"
              % (idle["images"], watched["images"], idle["drops"], watched["drops"], watched["answers"],
                 watched["answers"] / (2 * seconds), watched["new"]))
        print("acquisition CPU per image, nobody watching:  %.3f ms"
              % per(idle["acquisition"], idle["images"]))
        print("acquisition CPU per image, viewer attached:  %.3f ms"
              % per(watched["acquisition"], watched["images"]))
        print("process CPU per image, nobody watching:      %.3f ms" % per(idle["whole"], idle["images"]))
        print("process CPU per image, viewer attached:      %.3f ms" % per(watched["whole"], watched["images"]))
        viewer_ns = watched["whole"] - idle["whole"] / max(idle["images"], 1) * watched["images"]
        print("viewer CPU per new image displayed:          %.3f ms" % per(viewer_ns, watched["new"]))
        print("viewer CPU per answer (kept image included): %.3f ms" % per(viewer_ns, watched["answers"]))
    finally:
        viewer.stop()


if __name__ == "__main__":
    main()
