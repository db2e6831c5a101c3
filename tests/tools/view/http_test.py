"""The viewer's HTTP interface, with hostile input: malformed and oversized
requests, bad values, many connections at once. The tool must keep serving,
refuse clearly, never half apply a setting, and stop cleanly on Ctrl-C."""

import json
import os
import re
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest
import urllib.error
import urllib.request

from viewtool import SANITIZER_FINDINGS, Stream, Viewer

TOOL = None
WEB_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools", "orvex", "view", "web")


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


def jpeg_size(body):
    """(width, height) from a baseline JPEG's frame header, after checking
    that the body is one JPEG image from start to end marker."""
    assert body[:2] == b"\xff\xd8" and body[-2:] == b"\xff\xd9", (body[:4], body[-4:])
    at = 2
    while at + 4 <= len(body):
        assert body[at] == 0xFF, "no marker at %d" % at
        marker, length = body[at + 1], struct.unpack(">H", body[at + 2:at + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height, width = struct.unpack(">HH", body[at + 5:at + 9])
            return width, height
        at += 2 + length
    raise AssertionError("no frame header")


def fetch(viewer, path):
    """(status, content type, body) of one GET."""
    try:
        with urllib.request.urlopen(viewer.base + path, timeout=10) as response:
            return response.status, response.headers.get("Content-Type"), response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers.get("Content-Type"), error.read()


class ViewerTestCase(unittest.TestCase):
    """A viewer on the built-in world per test, which must stop cleanly:
    Ctrl-C, with streams still open or not, stops at once with status 0."""

    def setUp(self):
        self.viewer = Viewer(TOOL)

    def tearDown(self):
        status, _, err = self.viewer.stop()
        for finding in SANITIZER_FINDINGS:
            self.assertNotIn(finding, err)
        self.assertEqual(status, 0, err)


class ViewerHttpTest(ViewerTestCase):

    def test_serves_only_its_own_page(self):
        status, body = self.viewer.request("GET", "/")
        self.assertEqual(status, 200)
        self.assertIn(b"Orvex viewer", body)
        self.assertEqual(self.viewer.request("GET", "/viewer.js")[0], 200)
        for path in ("/etc/passwd", "/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/CMakeLists.txt",
                     "/web/index.html", "/index.html/../viewer.js/x"):
            reply = raw_exchange(self.viewer.port, b"GET " + path.encode() + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                 b"Connection: close\r\n\r\n")
            self.assertIn(status_of(reply), (400, 404), path)
            self.assertNotIn(b"root:", reply)

    def test_state_lists_the_simulated_cameras(self):
        cameras = self.viewer.state()["cameras"]
        self.assertEqual([c["port"] for c in cameras], [0, 1, 2])
        self.assertFalse(any(c["acquiring"] for c in cameras))
        self.assertEqual(cameras[2]["guid"], "0x00000000008A18BF")
        self.assertEqual([c["id"] for c in cameras], ["0", "1", "2"])
        state = self.viewer.state()
        self.assertIsNone(state["sync"])
        self.assertTrue(state["syncAvailable"])

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

    def test_live_frames_are_jpeg_at_the_preview_size(self):
        v = self.viewer
        self.assertEqual(fetch(v, "/api/cameras/2/frame")[0], 404)  # not acquiring
        self.assertEqual(v.json("POST", "/api/cameras/2/start")[0], 200)
        camera = v.wait_for(lambda: (lambda c: c if c["received"] >= 3 else None)(v.camera(2)))
        status, kind, live = fetch(v, "/api/cameras/2/frame")
        self.assertEqual((status, kind), (200, "image/jpeg"))
        _, _, preview = fetch(v, "/api/cameras/2/frame.png")
        # The same scaled preview as the PNG one, only cheaper to make.
        self.assertEqual(jpeg_size(live), png_size(preview))
        # The full image stays lossless.
        status, kind, full = fetch(v, "/api/cameras/2/frame?full=1")
        self.assertEqual((status, kind), (200, "image/png"))
        self.assertEqual(list(png_size(full)), camera["roi"][2:])
        self.assertEqual(fetch(v, "/api/cameras/2/frame?full=2")[0], 400)
        self.assertEqual(fetch(v, "/api/cameras/9/frame")[0], 404)
        self.assertEqual(v.json("POST", "/api/cameras/2/stop")[0], 200)

    def test_a_watched_camera_is_served_as_it_goes_and_not_after_it_stops(self):
        v = self.viewer
        self.assertEqual(v.json("POST", "/api/cameras/0/start")[0], 200)
        v.wait_for(lambda: v.camera(0)["received"] >= 2)
        # A page that keeps asking: every answer a whole JPEG with its index;
        # new images as they come, never an older one after a newer; the
        # same index, the same bytes; another index, another picture (the
        # simulated camera's square moves from image to image).
        seen, last = {}, -1
        deadline = time.monotonic() + 10
        while len(seen) < 4 and time.monotonic() < deadline:
            with urllib.request.urlopen(v.base + "/api/cameras/0/frame?t=%d" % len(seen), timeout=10) as answer:
                self.assertEqual(answer.headers["Content-Type"], "image/jpeg")
                self.assertEqual(answer.headers["Cache-Control"], "no-store")
                index, body = int(answer.headers["X-Orvex-Index"]), answer.read()
            jpeg_size(body)
            self.assertGreaterEqual(index, last)
            self.assertEqual(seen.setdefault(index, body), body)
            last = index
        self.assertGreaterEqual(len(seen), 4, "the page saw no new images")
        self.assertEqual(len(set(seen.values())), len(seen), "an image was sent again as a new one")
        # Served to the viewer's own hosts only, however often it was asked.
        reply = raw_exchange(v.port, b"GET /api/cameras/0/frame HTTP/1.1\r\nHost: attacker.example\r\n"
                             b"Connection: close\r\n\r\n")
        self.assertEqual(status_of(reply), 403)
        # A HEAD has the GET's length and no body.
        reply = raw_exchange(v.port, b"HEAD /api/cameras/0/frame HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             b"Connection: close\r\n\r\n")
        self.assertEqual(status_of(reply), 200)
        head, _, body = reply.partition(b"\r\n\r\n")
        self.assertGreater(int(re.search(rb"(?i)content-length: (\d+)", head).group(1)), 0)
        self.assertEqual(body, b"")
        # Once stopped, no image, however recently the page had one.
        self.assertEqual(v.json("POST", "/api/cameras/0/stop")[0], 200)
        for path in ("/api/cameras/0/frame", "/api/cameras/0/frame.png"):
            self.assertEqual(fetch(v, path)[0], 404, path)

    def test_png_of_a_watched_preview_sized_camera_between_live_frames(self):
        # A VGA image is its own preview: the one that comes after the page
        # took a live frame is encoded where it lies, its pixels not kept.
        # The PNG route still answers it, as a whole image.
        v = self.viewer
        for name, value in (("roi", "0,0,640,480"), ("frame-rate", "3.75")):
            self.assertEqual(v.json("POST", "/api/cameras/0/settings", {"name": name, "value": value})[0], 200)
        self.assertEqual(v.json("POST", "/api/cameras/0/start")[0], 200)
        v.wait_for(lambda: v.camera(0)["received"] >= 1)
        for _ in range(3):
            with urllib.request.urlopen(v.base + "/api/cameras/0/frame", timeout=10) as answer:
                live = int(answer.headers["X-Orvex-Index"])
                self.assertEqual(jpeg_size(answer.read()), (640, 480))
            v.wait_for(lambda: v.camera(0)["index"] > live)  # the next, encoded as it came
            with urllib.request.urlopen(v.base + "/api/cameras/0/frame.png", timeout=10) as answer:
                self.assertEqual(answer.headers["Content-Type"], "image/png")
                self.assertGreater(int(answer.headers["X-Orvex-Index"]), live)
                self.assertEqual(png_size(answer.read()), (640, 480))

    def test_jpeg_quality_is_the_users(self):
        sizes = {}
        for quality in ("5", "100"):
            viewer = Viewer(TOOL, "--jpeg-quality", quality)
            try:
                self.assertEqual(viewer.json("POST", "/api/cameras/0/start")[0], 200)
                viewer.wait_for(lambda: viewer.camera(0)["received"] >= 2)
                status, kind, body = fetch(viewer, "/api/cameras/0/frame")
                self.assertEqual((status, kind), (200, "image/jpeg"))
                sizes[quality] = len(body)
            finally:
                self.assertEqual(viewer.stop()[0], 0)
        self.assertLess(sizes["5"], sizes["100"])
        for bad in ("0", "101", "x", "1.5"):
            result = subprocess.run([TOOL, "view", "--listen", "127.0.0.1:0", "--jpeg-quality", bad],
                                    capture_output=True, text=True, timeout=30)
            self.assertEqual(result.returncode, 2, bad)
            self.assertIn("--jpeg-quality '%s': expected a whole number from 1 to 100" % bad, result.stderr)

    def test_settings_reach_the_camera_or_are_refused_whole(self):
        v = self.viewer
        status, _ = v.json("POST", "/api/cameras/2/settings", {"name": "shutter", "value": "5"})
        self.assertEqual(status, 200)
        self.assertAlmostEqual(v.camera(2)["shutter"], 5.0, places=1)
        # The library refuses: its message comes back, nothing changes.
        status, answer = v.json("POST", "/api/cameras/2/settings", {"name": "shutter", "value": "5000"})
        self.assertEqual(status, 422)
        self.assertIn("shutter greater than max shutter allowed", answer["error"])
        self.assertAlmostEqual(v.camera(2)["shutter"], 5.0, places=1)
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
        for key in ("shutter", "gain", "roi", "packet", "trigger", "frameRate"):
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
            raw_exchange(port, b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " + b"a" * 20000 + b"\r\n\r\n"),
            raw_exchange(port, b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"),
            raw_exchange(port, b"POST /api/cameras/0/settings HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                         b"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 100000\r\n\r\n"
                         + b"name=shutter&value=" + b"1" * 99981),
            raw_exchange(port, b"POST /api/cameras/0/settings HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                         b"Content-Length: 99999999999999999999\r\n\r\nname=x"),
            raw_exchange(port, b"POST /api/cameras/0/settings HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                         b"Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\nabc\r\n"),
        ]
        for reply in replies:
            self.assertNotEqual(status_of(reply), 200, reply[:80])
        self.assertEqual(status_of(replies[4]), 413)
        self.assertEqual(self.viewer.state()["cameras"][0]["port"], 0)

    def test_many_connections_at_once(self):
        # Silent clients beside many requests at once: every request is
        # answered (hostile_test.py holds more, and slower, clients).
        v = self.viewer
        idle = [socket.create_connection(("127.0.0.1", v.port)) for _ in range(20)]
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


def read_answers(sock, count):
    """`count` answers from one connection: [(status, body)]."""
    answers, data = [], b""
    while len(answers) < count:
        head, separator, rest = data.partition(b"\r\n\r\n")
        length = re.search(rb"(?i)content-length: (\d+)", head) if separator else None
        if length is not None and len(rest) >= int(length.group(1)):
            size = int(length.group(1))
            answers.append((status_of(data), rest[:size]))
            data = rest[size:]
            continue
        chunk = sock.recv(65536)
        if not chunk:
            break
        data += chunk
    return answers


class ViewerConnectionTest(ViewerTestCase):
    """What a connection carries: requests sent ahead of their answers, a
    request in pieces, answers larger than the socket takes at once."""

    def setUp(self):
        super().setUp()
        with open(os.path.join(WEB_DIR, "viewer.js"), "rb") as script:
            self.script = script.read()

    def connect(self):
        sock = socket.create_connection(("127.0.0.1", self.viewer.port), timeout=20)
        self.addCleanup(sock.close)
        return sock

    def test_requests_sent_together_are_answered_in_order(self):
        sock = self.connect()
        sock.sendall(b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                     b"GET /nowhere HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                     b"GET /viewer.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        answers = read_answers(sock, 3)
        self.assertEqual([status for status, _ in answers], [200, 404, 200])
        self.assertIn(b'"cameras"', answers[0][1])
        self.assertEqual(answers[2][1], self.script)

    def test_thousands_of_requests_in_one_send(self):
        # Each is answered in turn, without the server nesting one call per
        # request sent ahead.
        sock = self.connect()
        count = 3000
        sender = threading.Thread(
            target=sock.sendall, args=(b"GET /nowhere HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" * count,))
        sender.start()
        answers = read_answers(sock, count)
        sender.join()
        self.assertEqual(len(answers), count)
        self.assertEqual({status for status, _ in answers}, {404})
        self.assertEqual(self.viewer.state()["cameras"][0]["port"], 0)

    def test_a_request_in_pieces(self):
        sock = self.connect()
        for piece in (b"GET /api/st", b"ate HTTP/1.1\r\nHo", b"st: 127.0.0.1\r\n", b"\r\n"):
            sock.sendall(piece)
            time.sleep(0.15)
        [(status, body)] = read_answers(sock, 1)
        self.assertEqual(status, 200)
        self.assertIn(b'"cameras"', body)

    def test_answers_larger_than_the_socket_takes_reach_a_slow_client(self):
        # 200 answers of the page's script, 2 MB, to a client that reads
        # only later: the server finishes each when the client takes it,
        # whole and in order, and goes on serving the connection.
        sock = self.connect()
        count = 200
        sock.sendall(b"GET /viewer.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" * count)
        time.sleep(0.5)
        answers = read_answers(sock, count)
        self.assertEqual(len(answers), count)
        self.assertTrue(all(status == 200 and body == self.script for status, body in answers))
        sock.sendall(b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        self.assertEqual(read_answers(sock, 1)[0][0], 200)


class ViewerStreamTest(ViewerTestCase):
    """GET /api/cameras/ID/stream: a watched camera's live images as one
    answer, a part per new image, until the camera stops or leaves."""

    def open(self, path, **kwargs):
        stream = Stream(self.viewer.port, path, **kwargs)
        self.addCleanup(stream.close)
        return stream

    def start(self, port):
        self.assertEqual(self.viewer.json("POST", "/api/cameras/%d/start" % port)[0], 200)

    def test_parts_are_whole_jpegs_of_new_images_in_order(self):
        self.start(2)
        stream = self.open("/api/cameras/2/stream")
        self.assertEqual(stream.status, 200)
        self.assertEqual(stream.header("Content-Type"), "multipart/x-mixed-replace; boundary=orvex-frame")
        self.assertEqual(stream.header("Cache-Control"), "no-store")
        # No length: the answer runs until the connection closes.
        self.assertIsNone(stream.header("Content-Length"))
        self.assertEqual(stream.header("Connection"), "close")
        parts = [stream.part() for _ in range(6)]
        indexes = [index for index, _, _ in parts]
        self.assertEqual(indexes, sorted(set(indexes)), "a part repeated or went back")
        _, _, preview = fetch(self.viewer, "/api/cameras/2/frame.png")
        for _, kind, body in parts:
            self.assertEqual(kind, "image/jpeg")
            self.assertEqual(jpeg_size(body), png_size(preview))
        # The frame route answers beside it, with what the stream sends.
        status, kind, live = fetch(self.viewer, "/api/cameras/2/frame")
        self.assertEqual((status, kind), (200, "image/jpeg"))

    def test_two_streams_get_the_same_encoding_of_each_image(self):
        self.start(0)
        first, second = self.open("/api/cameras/0/stream"), self.open("/api/cameras/0/stream")
        a = {index: body for index, _, body in (first.part() for _ in range(8))}
        b = {index: body for index, _, body in (second.part() for _ in range(8))}
        shared = set(a) & set(b)
        self.assertGreaterEqual(len(shared), 4, (sorted(a), sorted(b)))
        self.assertTrue(all(a[index] == b[index] for index in shared))

    def test_stop_ends_the_stream_and_start_serves_a_new_one(self):
        self.assertEqual(fetch(self.viewer, "/api/cameras/0/stream")[:2],
                         (404, "application/json"))  # not acquiring
        self.start(0)
        stream = self.open("/api/cameras/0/stream")
        stream.part()
        self.assertEqual(self.viewer.json("POST", "/api/cameras/0/stop")[0], 200)
        self.assertTrue(stream.ended_within(5), "the stream outlived its camera's stop")
        status, _, body = fetch(self.viewer, "/api/cameras/0/stream")
        self.assertEqual(status, 404)
        self.assertEqual(json.loads(body)["error"], "no image from camera 0 yet")
        self.start(0)
        again = self.open("/api/cameras/0/stream")
        self.assertIsNotNone(again.part())
        self.assertIsNotNone(again.part())

    def test_a_stream_that_is_not_read_is_sent_the_newest_image_when_it_drains(self):
        self.start(0)
        stuck = self.open("/api/cameras/0/stream", receive_buffer=4096)
        reader = self.open("/api/cameras/0/stream")
        stuck_at = stuck.part()[0]
        began, indexes = time.monotonic(), set()
        while time.monotonic() - began < 4:
            indexes.add(reader.part()[0])
        # The reader got images at the camera's pace (15 per second) while the
        # other held its parts.
        self.assertGreaterEqual(len(indexes), 20)
        newest = max(indexes)
        # What the stuck one reads now is what the sockets held (a few parts)
        # and then the live image: the ones in between were skipped for it,
        # never queued.
        seen = [stuck.part()[0] for _ in range(3)]
        while seen[-1] < newest and len(seen) < 20:
            seen.append(stuck.part()[0])
        self.assertGreaterEqual(seen[-1], newest, "still behind after %d parts: %s" % (len(seen), seen))
        self.assertEqual(seen, sorted(set(seen)))
        self.assertGreater(seen[-1] - stuck_at, len(seen) + 10, "nothing was skipped: %s" % seen)

    def test_refused_like_the_other_routes(self):
        self.start(0)
        for path, status in (("/api/cameras/x/stream", 404), ("/api/cameras/123456/stream", 404),
                             ("/api/cameras/7/stream", 404), ("/api/cameras/0/stream/", 404),
                             ("/api/cameras//stream", 404), ("/api/cameras/bcam-0/stream", 404)):
            stream = self.open(path)
            self.assertEqual(stream.status, status, path)
            self.assertEqual(stream.header("Content-Type"), "application/json", path)
        self.assertEqual(self.open("/api/cameras/0/stream", host=b"attacker.example").status, 403)
        self.assertEqual(self.open("/api/cameras/0/stream", method=b"POST").status, 404)
        # A HEAD gets the head alone, and the connection closes.
        head = self.open("/api/cameras/0/stream", method=b"HEAD")
        self.assertEqual(head.status, 200)
        self.assertEqual(head.header("Content-Type"), "multipart/x-mixed-replace; boundary=orvex-frame")
        self.assertTrue(head.ended_within(5))
        self.assertEqual(head.data, b"")


class ViewerBothStacksTest(unittest.TestCase):
    """--backend all: the FlyCapture cameras by their ports, the BCAM driver's
    beside them as bcam-PORT, each acting on its own camera."""

    def setUp(self):
        self.viewer = Viewer(TOOL, "--backend", "all")

    def tearDown(self):
        status, _, err = self.viewer.stop()
        for finding in SANITIZER_FINDINGS:
            self.assertNotIn(finding, err)
        self.assertEqual(status, 0, err)

    def bcam(self, port):
        return next(c for c in self.viewer.state()["cameras"] if c["id"] == "bcam-%d" % port)

    def test_every_camera_of_both_stacks_is_shown(self):
        cameras = self.viewer.state()["cameras"]
        self.assertEqual([(c["id"], c["stack"]) for c in cameras],
                         [("0", "flycap"), ("1", "flycap"), ("2", "flycap"), ("bcam-0", "bcam"),
                          ("bcam-1", "bcam")])
        self.assertEqual([c["model"] for c in cameras[3:]], ["A102f", "A312f"])

    def test_bcam_camera_acquires_and_is_set_beside_a_flycap_one(self):
        v = self.viewer
        self.assertEqual(v.request("GET", "/api/cameras/bcam-0/frame.png")[0], 404)  # not acquiring
        for camera in ("bcam-0", "2"):
            status, answer = v.json("POST", "/api/cameras/%s/start" % camera)
            self.assertEqual((status, answer), (200, {"ok": True}))
        v.wait_for(lambda: self.bcam(0)["received"] >= 3 and v.camera(2)["received"] >= 3)
        self.assertFalse(self.bcam(1)["acquiring"])
        self.assertFalse(v.camera(0)["acquiring"])
        status, preview = v.request("GET", "/api/cameras/bcam-0/frame.png")
        self.assertEqual(status, 200)
        width, height = png_size(preview)
        self.assertLessEqual(width, 640)
        self.assertGreater(width * height, 0)
        status, full = v.request("GET", "/api/cameras/bcam-0/frame.png?full=1")
        self.assertEqual(list(png_size(full)), self.bcam(0)["roi"][2:])
        # The library gives a BCAM camera's hardware date from the chunks
        # after its image.
        dated = v.wait_for(lambda: (lambda c: c if c["hwDate"] is not None else None)(self.bcam(0)))
        self.assertGreater(dated["hwDate"], 0)
        # A second camera on the BCAM bus may be refused its start: the
        # library's message comes back and the camera is not left acquiring.
        status, answer = v.json("POST", "/api/cameras/bcam-1/start")
        if status != 200:
            self.assertEqual(status, 422)
            self.assertIn("startAcquisition", answer["error"])
            self.assertFalse(self.bcam(1)["acquiring"])
        for path in ("/api/cameras/bcam-7/start", "/api/cameras/bcam-x/start", "/api/cameras/flycap-0/start",
                     "/api/cameras/BCAM-0/start", "/api/cameras/bcam--1/start", "/api/cameras/bcam-/start",
                     "/api/cameras/bcam-123456/start"):
            self.assertEqual(v.request("POST", path)[0], 404, path)
        status, out, err = v.stop()
        self.assertEqual(status, 0, err)
        self.assertIn("stopped", out)

    def test_each_stack_is_shown_and_set_in_its_own_units(self):
        v = self.viewer
        flycap, bcam = v.camera(2), self.bcam(0)
        self.assertEqual((flycap["shutterUnit"], flycap["gainUnit"]), ("ms", "dB"))
        self.assertEqual((bcam["shutterUnit"], bcam["gainUnit"]), ("raw", "raw"))
        self.assertEqual(bcam["shutterRange"], [1, 4095])
        self.assertEqual(bcam["shutter"], 500)
        # Raw values reach the camera as they are, not as milliseconds.
        for name, value in (("shutter", 3000), ("gain", 100)):
            status, answer = v.json("POST", "/api/cameras/bcam-0/settings", {"name": name, "value": str(value)})
            self.assertEqual(status, 200, answer)
            self.assertEqual(self.bcam(0)[name], value)
        # The camera's range, in its units, refused with the library's words.
        refused = [
            ("shutter", "4096", "invalid shutter value; equals to 4096 and should be lower than 4095"),
            ("shutter", "0", "invalid shutter value; equals to 0 and should be greater than 1"),
            ("gain", "385", "invalid gain value; equals to 385 and should be lower than 384"),
            ("shutter", "2999.5", "expected a whole number of raw units"),
            ("gain", "0.5", "expected a whole number of raw units"),
        ]
        for name, value, message in refused:
            status, answer = v.json("POST", "/api/cameras/bcam-0/settings", {"name": name, "value": value})
            self.assertEqual(status, 422, (name, value))
            self.assertEqual(answer["error"], "--%s %s: %s" % (name, value, message))
        after = self.bcam(0)
        self.assertEqual((after["shutter"], after["gain"]), (3000, 100))
        # The FlyCapture camera beside it keeps milliseconds and decibels,
        # up to what its 32-bit register holds.
        for name, value, expected in (("shutter", "2.5", 2.5), ("gain", "1.5", 1.5)):
            self.assertEqual(v.json("POST", "/api/cameras/2/settings", {"name": name, "value": value})[0], 200)
            self.assertAlmostEqual(v.camera(2)[name], expected, places=3)
        status, answer = v.json("POST", "/api/cameras/2/settings", {"name": "shutter", "value": "4294968"})
        self.assertEqual(status, 422)
        self.assertIn("expected 0 to 4294967.295 ms", answer["error"])
        self.assertAlmostEqual(v.camera(2)["shutter"], 2.5, places=3)


class ViewerSyncTest(unittest.TestCase):
    """--sync MASTER: the controller runs in the viewer; the state's sync part
    goes synchronised and carries each slave's disagreement and drift."""

    def test_sync_plot_goes_synchronised_and_restarts_with_another_master(self):
        v = Viewer(TOOL, "--sync", "0")
        try:
            sync = v.state()["sync"]
            self.assertEqual(sync["master"], "0x00000000006E79A5")
            self.assertIn(sync["state"], ("synchronising", "synchronised"))
            self.assertEqual([s["guid"] for s in sync["slaves"]], ["0x00000000008A18BF"])
            self.assertEqual(sync["masterBusCameras"], 1)
            sync = v.wait_for(lambda: (lambda s: s if s["state"] == "synchronised" else None)(v.state()["sync"]),
                              seconds=40)
            self.assertGreater(sync["synchronisedAfter"], 3)
            slave = sync["slaves"][0]
            self.assertTrue(slave["corrected"])
            self.assertIsInstance(slave["drift"], int)
            # The simulated buses run at different rates: the correction holds
            # the stamps together, the plot shows it.
            self.assertNotEqual(slave["drift"], 0)
            self.assertLess(abs(slave["disagreement"]), 100)
            self.assertGreater(len(slave["disagreements"]), 0)
            self.assertGreater(len(slave["drifts"]), 0)
            self.assertEqual(sync["failures"], 0)
            times = [p[0] for p in slave["disagreements"]]
            self.assertEqual(times, sorted(times))

            self.assertEqual(v.json("POST", "/api/sync/start", {"master": "2"})[0], 422)  # already running
            self.assertEqual(v.json("POST", "/api/sync/stop")[0], 200)
            stopped = v.state()["sync"]
            self.assertEqual(stopped["state"], "stopped")
            # The last run's plot stays on the page after a stop.
            self.assertGreaterEqual(len(stopped["slaves"][0]["disagreements"]), len(slave["disagreements"]))
            status, answer = v.json("POST", "/api/sync/stop")
            self.assertEqual(status, 422)
            self.assertIn("not running", answer["error"])
            hostile = [
                ({"master": ""}, 400), ({"master": "zz"}, 400), ({"master": "0; rm"}, 400),
                ({"master": "1" * 100}, 400), ({"master": "0x000000000008A18BF"}, 400), ({"master": "0\n1"}, 400), ({}, 400),
                ({"master": "9"}, 404), ({"master": "0x123"}, 404), ({"master": "99999"}, 404),
            ]
            for fields, expected in hostile:
                status, answer = v.json("POST", "/api/sync/start", fields)
                self.assertEqual(status, expected, fields)
                self.assertTrue(answer["error"], fields)
            self.assertEqual(v.json("POST", "/api/sync/start?master=0", {"master": "2"})[0], 400)
            self.assertEqual(v.state()["sync"]["state"], "stopped")
            # Another master, a fresh plot: the Grasshoppers are its slaves now.
            status, answer = v.json("POST", "/api/sync/start", {"master": "0x00000000008A18BF"})
            self.assertEqual(status, 200, answer)
            sync = v.state()["sync"]
            self.assertEqual(sync["masterPort"], 2)
            self.assertEqual(len(sync["slaves"]), 2)
            self.assertTrue(all(len(s["disagreements"]) == 0 for s in sync["slaves"]))
        finally:
            status, out, err = v.stop()
        for finding in SANITIZER_FINDINGS:
            self.assertNotIn(finding, err)
        self.assertEqual(status, 0, err)
        self.assertIn("synchronisation stopped", out)

    def test_sync_is_refused_without_the_flycapture_stack(self):
        v = Viewer(TOOL, "--backend", "bcam")
        try:
            state = v.state()
            self.assertFalse(state["syncAvailable"])
            self.assertIsNone(state["sync"])
            status, answer = v.json("POST", "/api/sync/start", {"master": "0"})
            self.assertEqual(status, 422)
            self.assertIn("needs the FlyCapture stack", answer["error"])
        finally:
            status, _, err = v.stop()
        self.assertEqual(status, 0, err)

    def test_bad_sync_master_on_the_command_line(self):
        for args, status, message in (
                (["--sync", "9"], 1, "no camera 9"),
                (["--sync", "zz"], 2, "expected a port index or a GUID"),
                (["--sync", ""], 2, "--sync needs a master"),
                (["--backend", "bcam", "--sync", "0"], 2, "sync needs the FlyCapture stack")):
            run = subprocess.run([TOOL, "view", "--listen", "127.0.0.1:0", *args], capture_output=True, text=True,
                                 timeout=30)
            self.assertEqual(run.returncode, status, (args, run.stderr))
            self.assertIn(message, run.stderr, args)
            self.assertNotIn("serving", run.stdout, args)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
