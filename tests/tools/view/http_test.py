"""The viewer's HTTP interface, with hostile input: malformed and oversized
requests, bad values, many connections at once. The tool must keep serving,
refuse clearly, never half apply a setting, and stop cleanly on Ctrl-C."""

import re
import socket
import struct
import sys
import threading
import unittest

from viewtool import SANITIZER_FINDINGS, Viewer

TOOL = None


def raw_exchange(port, payload, timeout=10):
    """Sends raw bytes, returns the reply: up to its end, or whatever came
    before the server closed."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        try:
            sock.sendall(payload)
        except OSError:
            pass  # the server may close before reading it all
        reply = b""
        try:
            while not complete(reply):
                chunk = sock.recv(65536)
                if not chunk:
                    break
                reply += chunk
        except OSError:
            pass
        return reply


def complete(reply):
    head, separator, body = reply.partition(b"\r\n\r\n")
    if not separator:
        return False
    match = re.search(rb"(?i)content-length: (\d+)", head)
    return match is not None and len(body) >= int(match.group(1))


def status_of(reply):
    if not reply.startswith(b"HTTP/1.1 "):
        return None
    return int(reply[9:12])


def png_size(body):
    assert body[:8] == b"\x89PNG\r\n\x1a\n", body[:16]
    return struct.unpack(">II", body[16:24])


class ViewerHttpTest(unittest.TestCase):
    def setUp(self):
        self.viewer = Viewer(TOOL)

    def tearDown(self):
        status, _, err = self.viewer.stop()
        for finding in SANITIZER_FINDINGS:
            self.assertNotIn(finding, err)
        self.assertEqual(status, 0, err)

    def test_serves_only_its_own_page(self):
        status, body = self.viewer.request("GET", "/")
        self.assertEqual(status, 200)
        self.assertIn(b"Orvex viewer", body)
        self.assertEqual(self.viewer.request("GET", "/viewer.js")[0], 200)
        for path in ("/etc/passwd", "/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/CMakeLists.txt",
                     "/web/index.html", "/index.html/../viewer.js/x"):
            reply = raw_exchange(self.viewer.port, b"GET " + path.encode() + b" HTTP/1.1\r\nHost: x\r\n"
                                 b"Connection: close\r\n\r\n")
            self.assertIn(status_of(reply), (400, 404), path)
            self.assertNotIn(b"root:", reply)

    def test_state_lists_the_simulated_cameras(self):
        cameras = self.viewer.state()["cameras"]
        self.assertEqual([c["port"] for c in cameras], [0, 1, 2])
        self.assertFalse(any(c["acquiring"] for c in cameras))
        self.assertEqual(cameras[2]["guid"], "0x00000000008A18BF")
        self.assertIsNone(self.viewer.state()["sync"])

    def test_live_image_index_dates_and_stop(self):
        v = self.viewer
        self.assertEqual(v.request("GET", "/api/cameras/2/frame.png")[0], 404)  # not acquiring
        self.assertEqual(v.json("POST", "/api/cameras/2/start")[0], 200)
        camera = v.wait_for(lambda: (lambda c: c if c["received"] >= 3 else None)(v.camera(2)))
        self.assertIsNotNone(camera["index"])
        self.assertGreater(camera["swDate"], 0)
        self.assertIsNotNone(camera["hwDate"])
        status, preview = v.request("GET", "/api/cameras/2/frame.png")
        self.assertEqual(status, 200)
        width, height = png_size(preview)
        self.assertLessEqual(width, 640)
        self.assertLessEqual(height, 480)
        status, full = v.request("GET", "/api/cameras/2/frame.png?full=1")
        self.assertEqual(status, 200)
        self.assertEqual(list(png_size(full)), camera["roi"][2:])
        self.assertEqual(v.request("GET", "/api/cameras/2/frame.png?full=yes")[0], 400)
        later = v.wait_for(lambda: (lambda c: c if c["index"] != camera["index"] else None)(v.camera(2)))
        self.assertGreater(later["fps"] + later["received"], 0)
        self.assertEqual(v.json("POST", "/api/cameras/2/stop")[0], 200)
        self.assertFalse(v.camera(2)["acquiring"])

    def test_settings_reach_the_camera_or_are_refused_whole(self):
        v = self.viewer
        status, _ = v.json("POST", "/api/cameras/2/settings", {"name": "shutter", "value": "5"})
        self.assertEqual(status, 200)
        self.assertAlmostEqual(v.camera(2)["shutterMs"], 5.0, places=1)
        # The library refuses: its message comes back, nothing changes.
        status, answer = v.json("POST", "/api/cameras/2/settings", {"name": "shutter", "value": "5000"})
        self.assertEqual(status, 422)
        self.assertIn("shutter greater than max shutter allowed", answer["error"])
        self.assertAlmostEqual(v.camera(2)["shutterMs"], 5.0, places=1)
        before = v.camera(2)
        bad = [
            ({"name": "shutter", "value": "abc"}, "--shutter"),
            ({"name": "shutter", "value": "nan"}, "--shutter"),
            ({"name": "shutter", "value": "-1"}, "--shutter"),
            ({"name": "gain", "value": "1e400"}, "--gain"),
            ({"name": "roi", "value": "0,0,8"}, "--roi"),
            ({"name": "roi", "value": "0,0,99999999999,8"}, "--roi"),
            ({"name": "trigger", "value": "7"}, "--trigger"),
            ({"name": "exposure", "value": "1"}, "unknown setting"),
            ({"name": "shutter", "value": ""}, "--shutter"),
            ({"name": "shutter", "value": "1" * 100}, "--shutter"),
            ({"name": "shutter", "value": "5\n--gain=3"}, "--shutter"),
            ({"name": "shutter"}, "exactly one"),
        ]
        for fields, expected in bad:
            status, answer = v.json("POST", "/api/cameras/2/settings", fields)
            self.assertEqual(status, 400, fields)
            self.assertIn(expected, answer["error"], fields)
        status, answer = v.json("POST", "/api/cameras/2/settings?name=gain&value=2",
                                {"name": "shutter", "value": "3"})
        self.assertEqual(status, 400)
        after = v.camera(2)
        for key in ("shutterMs", "gainDb", "roi", "packet", "trigger", "frameRate"):
            self.assertEqual(after[key], before[key], key)
        self.assertEqual(v.json("POST", "/api/cameras/9/settings", {"name": "shutter", "value": "5"})[0], 404)
        self.assertEqual(v.request("POST", "/api/cameras/123456/start")[0], 404)
        self.assertEqual(v.request("POST", "/api/cameras/x/start")[0], 404)

    def test_software_trigger_is_passed_or_refused_with_the_library_message(self):
        v = self.viewer
        camera = v.camera(2)
        status, answer = v.json("POST", "/api/cameras/2/trigger")
        if camera["softwareTrigger"]:
            self.assertEqual(status, 200)
        else:
            self.assertEqual(status, 422)
            self.assertIn("software trigger", answer["error"])

    def test_malformed_and_oversized_requests_leave_it_serving(self):
        port = self.viewer.port
        replies = [
            raw_exchange(port, b"GARBAGE\r\n\r\n"),
            raw_exchange(port, b"\x00\xff\x16\x03\x01" * 50 + b"\r\n\r\n"),
            raw_exchange(port, b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 20000 + b"\r\n\r\n"),
            raw_exchange(port, b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\nHost: x\r\n\r\n"),
            raw_exchange(port, b"POST /api/cameras/0/settings HTTP/1.1\r\nHost: x\r\n"
                         b"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 100000\r\n\r\n"
                         + b"name=shutter&value=" + b"1" * 99981),
            raw_exchange(port, b"POST /api/cameras/0/settings HTTP/1.1\r\nHost: x\r\n"
                         b"Content-Length: 99999999999999999999\r\n\r\nname=x"),
            raw_exchange(port, b"POST /api/cameras/0/settings HTTP/1.1\r\nHost: x\r\n"
                         b"Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\nabc\r\n"),
        ]
        for reply in replies:
            self.assertNotEqual(status_of(reply), 200, reply[:80])
        self.assertEqual(status_of(replies[4]), 413)
        self.assertEqual(self.viewer.state()["cameras"][0]["port"], 0)

    def test_many_connections_at_once(self):
        v = self.viewer
        idle = [socket.create_connection(("127.0.0.1", v.port)) for _ in range(40)]
        results = []
        lock = threading.Lock()

        def fetch():
            try:
                status = v.request("GET", "/api/state", timeout=30)[0]
            except OSError as error:
                status = str(error)
            with lock:
                results.append(status)

        threads = [threading.Thread(target=fetch) for _ in range(40)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for sock in idle:
            sock.close()
        self.assertEqual(results.count(200), len(threads), results)
        self.assertEqual(len(v.state()["cameras"]), 3)

    def test_ctrl_c_while_acquiring_stops_cleanly(self):
        v = self.viewer
        for port in (0, 2):
            self.assertEqual(v.json("POST", "/api/cameras/%d/start" % port)[0], 200)
        v.wait_for(lambda: v.camera(2)["received"] > 0 and v.camera(0)["received"] > 0)
        status, out, err = v.stop()
        self.assertEqual(status, 0, err)
        self.assertIn("stopped", out)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
