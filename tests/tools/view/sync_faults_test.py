"""The viewer's synchronisation panel when the slave's registers fail: faults
injected through the world file reach the controller inside `orvex view`,
whose state shows each failure with the library's message, and "lost" when
the controller fell back."""

import json
import os
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

from viewtool import SANITIZER_FINDINGS, Viewer

TOOL = None

MASTER_SERIAL = 7240101  # port 0, bus 0
SLAVE_SERIAL = 9050303  # bus 1, its clock drifting against bus 0's
SYNC_BLOCK = "0xF0F01200"
CYCLE_TIME = "0xF0000200"
# The controller's SDK calls as its failure messages quote them, and the
# simulated SDK's text for FLYCAPTURE_FAILED (1).
WRITE_SYNC_CALL = "flycaptureWriteRegisterBlock(camCntxt, 0xFFFF, FC_REG_SYNC, pgrSyncRegValue, 2)"
READ_SLAVE_CALL = "flycaptureGetCameraRegister(slaveCamCntxt, FC_REG_CSR_CYCLE_TIME, &regVal)"
FAILED_TEXT = "Function failed"
# Generous for a loaded machine: synchronisation takes 50 ticks of 100 ms.
SYNC_SECONDS = 30


def world_with(faults):
    """A world file with a master and a slave on two buses and these faults."""
    world = {
        "buses": [
            {"number": 0, "clockSeconds": 17.25,
             "cameras": [{"model": "Grasshopper GRAS-20S4M", "serial": MASTER_SERIAL}]},
            {"number": 1, "clockSeconds": 93.5, "driftPpm": 30,
             "cameras": [{"model": "Flea2 FL2G-50S5M", "serial": SLAVE_SERIAL}]},
        ],
        "faults": faults,
    }
    handle, path = tempfile.mkstemp(prefix="orvex-sync-faults-", suffix=".json")
    with os.fdopen(handle, "w") as out:
        json.dump(world, out)
    return path


class SyncFaultsTest(unittest.TestCase):

    def run_viewer(self, faults):
        path = world_with(faults)
        self.addCleanup(os.remove, path)
        viewer = Viewer(TOOL, "--sync", "0", world=path)
        self.addCleanup(self.stop_cleanly, viewer)
        return viewer

    def stop_cleanly(self, viewer):
        status, out, err = viewer.stop()
        for finding in SANITIZER_FINDINGS:
            self.assertNotIn(finding, err)
        self.assertEqual(status, 0, err)
        self.assertIn("synchronisation stopped", out)

    @staticmethod
    def sync_state(viewer):
        """The sync part of the state, or None while the tool cannot answer
        (its main thread, which runs the controller, may be stalled)."""
        try:
            status, state = viewer.json("GET", "/api/state")
        except OSError:
            return None
        return state["sync"] if status == 200 else None

    def watch(self, viewer, until, seconds):
        """Polls the sync state until `until(state)` holds; returns every
        state seen, the last one satisfying it."""
        seen = []
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            sync = self.sync_state(viewer)
            if sync is not None:
                seen.append(sync)
                if until(sync):
                    return seen
            time.sleep(0.05)
        self.fail("timed out; last states: %r" % [s["state"] for s in seen[-5:]])

    def test_failed_reads_and_writes_show_the_librarys_message_and_keep_the_state(self):
        viewer = self.run_viewer([
            # One slave clock reading fails while the controller synchronises.
            {"function": "flycaptureGetCameraRegister", "serial": SLAVE_SERIAL, "address": CYCLE_TIME,
             "skip": 100, "count": 1, "errorCode": 1},
            # The write at synchronisation goes through; both attempts of the
            # next one fail.
            {"function": "flycaptureWriteRegisterBlock", "serial": SLAVE_SERIAL, "address": SYNC_BLOCK,
             "skip": 1, "count": 2, "errorCode": 1},
        ])
        seen = self.watch(viewer, lambda s: s["failures"] >= 2, SYNC_SECONDS + 10)
        messages = list(dict.fromkeys(s["lastFailure"] for s in seen if s["failures"] > 0))
        self.assertIn(READ_SLAVE_CALL + ": " + FAILED_TEXT, messages)
        self.assertEqual(messages[-1], WRITE_SYNC_CALL + ": " + FAILED_TEXT)
        # A failed update leaves the state as it was: the write failed after
        # synchronisation, which holds.
        self.assertEqual(seen[-1]["state"], "synchronised")
        self.assertEqual(seen[-1]["failures"], 2, "one failure per failed update, not per attempt")
        # The next update succeeds; the count and the message stay.
        updates = seen[-1]["updates"]
        after = self.watch(viewer, lambda s: s["updates"] > updates, 10)[-1]
        self.assertEqual(after["state"], "synchronised")
        self.assertEqual(after["failures"], 2)
        self.assertEqual(after["lastFailure"], WRITE_SYNC_CALL + ": " + FAILED_TEXT)

    def test_a_stall_of_more_than_ten_seconds_loses_synchronisation(self):
        # The first slow tick's write hangs 10.5 s: the next tick comes more
        # than ten seconds after the one before, the histories start afresh
        # and the controller falls back.
        viewer = self.run_viewer([
            {"function": "flycaptureWriteRegisterBlock", "serial": SLAVE_SERIAL, "address": SYNC_BLOCK,
             "skip": 1, "count": 1, "stallUs": 10500000},
        ])
        first = self.watch(viewer, lambda s: s["state"] == "synchronised", SYNC_SECONDS)[-1]
        lost = self.watch(viewer, lambda s: s["state"] == "lost", 25)[-1]
        self.assertEqual(lost["failures"], 0, "a stalled write that goes through is no failure")
        self.assertIsNone(lost["lastFailure"])
        self.assertTrue(all(s["corrected"] for s in lost["slaves"]), "the camera keeps its last correction")
        # Fifty fast ticks later it holds again; the panel keeps the time the
        # first synchronisation took.
        again = self.watch(viewer, lambda s: s["state"] == "synchronised", SYNC_SECONDS)[-1]
        self.assertEqual(again["synchronisedAfter"], first["synchronisedAfter"])
        self.assertGreater(again["updates"], lost["updates"])

    def test_the_page_the_state_and_frames_are_served_while_an_update_is_slow(self):
        # After synchronisation, both attempts of a slave write hang 3 s and
        # fail: one update holds the tool's main thread for 6 s.
        viewer = self.run_viewer([
            {"function": "flycaptureWriteRegisterBlock", "serial": SLAVE_SERIAL, "address": SYNC_BLOCK,
             "skip": 1, "count": 2, "stallUs": 3000000, "errorCode": 1},
        ])
        status, _ = viewer.request("POST", "/api/cameras/0/start")
        self.assertEqual(status, 200)
        # Each frame route keeps its own encoding to fall back on.
        viewer.wait_for(lambda: self.fetch(viewer, "/api/cameras/0/frame.png")[0] == 200)
        viewer.wait_for(lambda: self.fetch(viewer, "/api/cameras/0/frame")[0] == 200)
        self.watch(viewer, lambda s: s["state"] == "synchronised", SYNC_SECONDS)
        # Every request is answered well inside the update (a client that
        # waited for the controller would give up after 2 s); those the main
        # thread could not take say that they show what it last showed.
        paths = ("/", "/api/state", "/api/cameras/0/frame.png", "/api/cameras/0/frame")
        stale = dict.fromkeys(paths, 0)
        deadline = time.monotonic() + 8
        while time.monotonic() < deadline:
            for path in paths:
                status, headers = self.fetch(viewer, path)
                self.assertEqual(status, 200, path)
                stale[path] += headers.get("X-Orvex-Stale") == "1"
            time.sleep(0.1)
        # The page itself never needs the main thread.
        self.assertEqual(stale["/"], 0)
        for path in paths[1:]:
            self.assertGreater(stale[path], 0, path + ": no request fell inside the slow update")
        final = self.watch(viewer, lambda s: s["failures"] >= 1, 20)[-1]
        self.assertEqual(final["lastFailure"], WRITE_SYNC_CALL + ": " + FAILED_TEXT)

    @staticmethod
    def fetch(viewer, path):
        """(status, headers) of a GET that gives up after 2 s."""
        try:
            with urllib.request.urlopen(viewer.base + path, timeout=2) as response:
                response.read()
                return response.status, response.headers
        except urllib.error.HTTPError as error:
            return error.code, error.headers


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
