"""Cameras removed from `orvex view` while their images flow and the page
keeps asking for them: a FlyCapture camera whose image lock fails is deleted
by its server, on both stacks at once. Run under AddressSanitizer, a request
that reaches a deleted camera ends the tool with a report; here every round
must end with the camera shown as gone, the others still served, and a clean
stop."""

import json
import os
import socket
import sys
import tempfile
import threading
import time
import unittest

from viewtool import SANITIZER_FINDINGS, Stream, Viewer

TOOL = None

GRASSHOPPER = 7240101
FLEA = 9050303
BCAM = 20110404


def world_removing(skip_grasshopper, skip_flea):
    """Two FlyCapture cameras on two buses and a BCAM one; each FlyCapture
    camera's image lock fails once after `skip_*` good ones."""
    world = {
        "buses": [
            {"number": 0, "cameras": [{"model": "Grasshopper GRAS-20S4M", "serial": GRASSHOPPER}]},
            {"number": 1, "cameras": [{"model": "Flea2 FL2G-50S5M", "serial": FLEA}]},
            {"number": 2, "speed": 400, "cameras": [{"model": "A102f", "serial": BCAM}]},
        ],
        "faults": [
            {"function": "flycaptureLockLatest", "serial": GRASSHOPPER, "skip": skip_grasshopper,
             "errorCode": 1},
            {"function": "flycaptureLockLatest", "serial": FLEA, "skip": skip_flea, "errorCode": 1},
        ],
    }
    handle, path = tempfile.mkstemp(prefix="orvex-removal-", suffix=".json")
    with os.fdopen(handle, "w") as out:
        json.dump(world, out)
    return path


class Clients:
    """Browsers that keep asking for the state, every camera's image and a
    setting, as fast as the viewer answers, until stopped."""

    def __init__(self, viewer, ids, count=4):
        self.viewer = viewer
        self.ids = ids
        self.running = True
        self.errors = []
        self.threads = [threading.Thread(target=self.run, args=(n,)) for n in range(count)]
        for thread in self.threads:
            thread.start()

    def run(self, n):
        step = 0
        while self.running:
            camera = self.ids[(n + step) % len(self.ids)]
            step += 1
            try:
                status, _ = self.viewer.request("GET", "/api/cameras/%s/frame.png" % camera, timeout=5)
                if status not in (200, 404, 503):
                    self.errors.append("frame of %s: %d" % (camera, status))
                if step % 3 == 0:
                    self.viewer.request("POST", "/api/cameras/%s/settings" % camera,
                                        {"name": "gain", "value": "1"}, timeout=5)
                if step % 5 == 0:
                    self.viewer.request("GET", "/api/state", timeout=5)
            except OSError as error:
                self.errors.append("%s: %s" % (camera, error))
                return

    def stop(self):
        self.running = False
        for thread in self.threads:
            thread.join()


class Watchers:
    """Pages that watch every camera through its stream, opening a new one
    whenever the last ended, until stopped."""

    def __init__(self, viewer, ids):
        self.viewer = viewer
        self.running = True
        self.errors = []
        self.watching = {camera: False for camera in ids}
        self.parts = {camera: 0 for camera in ids}
        self.streams = {}
        self.threads = [threading.Thread(target=self.run, args=(camera,)) for camera in ids]
        for thread in self.threads:
            thread.start()

    def run(self, camera):
        while self.running:
            try:
                stream = Stream(self.viewer.port, "/api/cameras/%s/stream" % camera)
                self.streams[camera] = stream
                if stream.status == 200:
                    self.watching[camera] = True
                    while self.running and stream.part() is not None:
                        self.parts[camera] += 1
                elif stream.status not in (404, 503):
                    self.errors.append("stream of %s: %s" % (camera, stream.status))
                else:
                    time.sleep(0.05)
            except (OSError, AssertionError) as error:
                if self.running:
                    self.errors.append("stream of %s: %r" % (camera, error))
                return
            finally:
                self.watching[camera] = False
            stream.close()

    def stop(self):
        self.running = False
        for stream in list(self.streams.values()):
            try:
                stream.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        for thread in self.threads:
            thread.join()


class RemovalWhileViewingTest(unittest.TestCase):
    def test_cameras_removed_during_live_images_on_both_stacks(self):
        rounds = [(3, 7), (10, 2), (25, 25), (1, 40), (60, 12), (5, 5)]
        for skip_grasshopper, skip_flea in rounds:
            with self.subTest(skips=(skip_grasshopper, skip_flea)):
                self.one_round(skip_grasshopper, skip_flea)

    def one_round(self, skip_grasshopper, skip_flea):
        path = world_removing(skip_grasshopper, skip_flea)
        self.addCleanup(os.remove, path)
        viewer = Viewer(TOOL, "--backend", "all", world=path)
        clients = watchers = None
        failure = None
        try:
            ids = [camera["id"] for camera in viewer.state()["cameras"]]
            self.assertEqual(len(ids), 3, ids)
            clients = Clients(viewer, ids)
            watchers = Watchers(viewer, ids)
            for camera in ids:
                viewer.request("POST", "/api/cameras/%s/start" % camera)

            def flycap_gone():
                cameras = viewer.state()["cameras"]
                return all(not c["present"] for c in cameras if c["stack"] == "flycap")

            viewer.wait_for(flycap_gone, seconds=60)
            # The removed cameras' streams ended, and no new one opens.
            flycap = [c["id"] for c in viewer.state()["cameras"] if c["stack"] == "flycap"]
            viewer.wait_for(lambda: not any(watchers.watching[camera] for camera in flycap), seconds=5)
            # The BCAM camera beside them still acquires and is served.
            bcam = next(c for c in viewer.state()["cameras"] if c["stack"] == "bcam")
            self.assertTrue(bcam["present"] and bcam["acquiring"], bcam)
            status, _ = viewer.request("GET", "/api/cameras/%s/frame.png" % bcam["id"])
            self.assertEqual(status, 200)
            # Its stream outlived the others' removal.
            viewer.wait_for(lambda: watchers.parts[bcam["id"]] > 0, seconds=10)
            self.assertTrue(watchers.watching[bcam["id"]])
            # A removed camera is refused, not reached.
            gone = next(c["id"] for c in viewer.state()["cameras"] if c["stack"] == "flycap")
            self.assertEqual(viewer.request("POST", "/api/cameras/%s/start" % gone)[0], 404)
            self.assertEqual(viewer.request("POST", "/api/sync/start", {"master": gone})[0], 404)
        except (AssertionError, OSError) as error:
            failure = error
        finally:
            if clients is not None:
                clients.stop()
            if watchers is not None:
                watchers.stop()
            status, _, err = viewer.stop()
        # What the tool said tells why a request failed.
        self.assertIsNone(failure, err[-4000:])
        for finding in SANITIZER_FINDINGS:
            self.assertNotIn(finding, err)
        self.assertEqual(status, 0, err)
        self.assertEqual(err.count("was removed"), 2, err)
        self.assertEqual(clients.errors, [])
        self.assertEqual(watchers.errors, [])


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
