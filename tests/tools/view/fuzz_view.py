#!/usr/bin/env python3
"""Fuzzes `orvex view` over HTTP for a bounded time, in rounds: each round
starts the viewer on both stacks over a simulated world whose FlyCapture
cameras are removed after a random number of images (a failed image lock),
starts every camera, and sends random, malformed, slow and half-closed
requests from several clients while the cameras go; the next round brings
them back. Fails on:
- a sanitizer report or a crash (the tool built with AddressSanitizer and
  UBSan finds what plain runs do not);
- any answer 200 to a path that is none of the viewer's routes, or a served
  file that is not one of the page's own (path traversal);
- a Ctrl-C that does not close the port and end the tool within a second,
  or an unclean exit.

    fuzz_view.py build-asan/bin/orvex [--seconds 75] [--seed N]
"""

import argparse
import json
import os
import random
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from viewtool import SANITIZER_FINDINGS, Viewer  # noqa: E402

WEB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools", "orvex", "view", "web")
ASSETS = {name: open(os.path.join(WEB, name), "rb").read() for name in ("index.html", "viewer.js", "viewer.css")}
CAMERA_IDS = ["0", "1", "bcam-0", "2", "99999", "bcam-7", "00", "-1", "bcam-", "x"]
SETTINGS = ["shutter", "gain", "frame-rate", "roi", "packet", "trigger", "strobe", "brightness", "auto-exposure",
            "nope", ""]
VALUES = ["1", "0", "-1", "2.5", "1e308", "nan", "640,480", "0,0,0,0", "-2,0,8,8", "mode0", "off", "on", "x" * 70,
          "%00", "\u00e9", "4294967296", "1,2,3,4,5"]
TRAVERSALS = ["/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/..%2f..%2fetc%2fpasswd", "/web/index.html",
              "/CMakeLists.txt", "//etc/passwd", "/index.html/../viewer.js", "/./viewer.js", "/viewer.js%00.png",
              "/%2fetc%2fpasswd", "/....//....//etc/passwd", "/api/../index.html", "/ViewAssets.cpp",
              "/api/cameras/0/../../../etc/passwd", "/etc/passwd", "/proc/self/environ", "\\..\\..\\etc\\passwd"]
ROUTES = ["/", "/index.html", "/viewer.js", "/viewer.css", "/api/state"]


def world(rng):
    skips = [rng.randint(0, 120), rng.randint(0, 120)]
    data = {
        "buses": [
            {"number": 0, "cameras": [{"model": "Grasshopper GRAS-20S4M", "serial": 7240101}]},
            {"number": 1, "cameras": [{"model": "Flea2 FL2G-50S5M", "serial": 9050303}]},
            {"number": 2, "speed": 400, "cameras": [{"model": "A102f", "serial": 20110404}]},
        ],
        "faults": [
            {"function": "flycaptureLockLatest", "serial": 7240101, "skip": skips[0], "errorCode": 1},
            {"function": "flycaptureLockLatest", "serial": 9050303, "skip": skips[1], "errorCode": 1},
        ],
    }
    handle, path = tempfile.mkstemp(prefix="orvex-view-fuzz-", suffix=".json")
    with os.fdopen(handle, "w") as out:
        json.dump(data, out)
    return path


def served_outside_the_page(path, head, body):
    """Why a 200 answer is wrong, or None."""
    clean = path.split("?", 1)[0]
    if clean in ("/", "/index.html", "/viewer.js", "/viewer.css"):
        name = "index.html" if clean == "/" else clean[1:]
        return None if body in (ASSETS[name], b"") else "%s served other bytes than the page's file" % path
    if clean == "/api/state":
        return None
    if clean.startswith("/api/cameras/") and clean.endswith("/frame.png"):
        return None if body[:4] == b"\x89PNG" or body == b"" else "%s served no PNG" % path
    if clean.startswith("/api/cameras/") and clean.endswith("/frame"):
        image = body[:3] == b"\xff\xd8\xff" or body[:4] == b"\x89PNG" or body == b""
        return None if image else "%s served neither JPEG nor PNG" % path
    if clean.startswith("/api/cameras/") and clean.endswith("/stream"):
        framed = b"multipart/x-mixed-replace; boundary=orvex-frame" in head
        opening = b"--orvex-frame\r\nContent-Type: image/"  # a stream may be cut anywhere
        parts = body[:len(opening)] == opening[:len(body)]
        return None if framed and parts else "%s served no stream of images" % path
    if clean.startswith("/api/"):
        return None if b"application/json" in head.lower() else "%s answered 200 with no JSON" % path
    return "%s answered 200: no such route" % path


class Fuzzer:
    def __init__(self, port, rng):
        self.port = port
        self.rng = rng
        self.sent = 0
        self.statuses = {}
        self.failures = []

    def path(self):
        rng = self.rng
        kind = rng.random()
        if kind < 0.25:
            return rng.choice(TRAVERSALS)
        if kind < 0.45:
            return rng.choice(ROUTES)
        camera = rng.choice(CAMERA_IDS)
        tail = rng.choice(["frame.png", "frame.png?full=1", "frame.png?full=2", "settings", "start", "stop",
                           "trigger", "", "frame.png?full=%", "../state", "frame", "frame?full=1", "frame?full=x",
                           "stream", "stream?full=1", "stream/"])
        if kind < 0.5:
            return "/" + "".join(chr(rng.randint(33, 126)) for _ in range(rng.randint(1, 40)))
        if kind < 0.55:
            return "/api/sync/" + rng.choice(["start?master=0", "stop", "start?master=zz", "start"])
        return "/api/cameras/%s/%s" % (camera, tail)

    def headers(self):
        rng = self.rng
        host = rng.choice(["127.0.0.1:%d" % self.port, "localhost", "attacker.example", "", "127.0.0.1",
                           "[::1]:%d" % self.port, "a" * 300])
        lines = [] if rng.random() < 0.05 else ["Host: " + host]
        if rng.random() < 0.3:
            lines.append("Origin: " + rng.choice(["http://127.0.0.1:%d" % self.port, "http://attacker.example",
                                                  "null", "http://localhost:%d" % self.port]))
        if rng.random() < 0.05:
            lines.append("X-Big: " + "b" * rng.randint(1000, 20000))
        return lines

    def body(self):
        rng = self.rng
        fields = "name=%s&value=%s" % (rng.choice(SETTINGS), rng.choice(VALUES))
        if rng.random() < 0.1:
            fields += "&name=gain"
        if rng.random() < 0.1:
            fields = "%zz=" + fields
        return fields.encode("utf-8", "replace")

    def request_bytes(self):
        rng = self.rng
        if rng.random() < 0.05:
            return bytes(rng.randint(0, 255) for _ in range(rng.randint(1, 200))), None
        method = rng.choice(["GET", "GET", "GET", "POST", "POST", "HEAD", "PUT", "DELETE", "OPTIONS", "G\x00T"])
        path = self.path()
        lines = ["%s %s HTTP/1.%d" % (method, path, rng.choice([1, 1, 1, 0]))] + self.headers()
        body = b""
        if method == "POST":
            body = self.body()
            lines.append("Content-Type: application/x-www-form-urlencoded")
            length = rng.choice([len(body)] * 8 + [0, len(body) + 5, 99999999999999999999, -1, 100000])
            lines.append("Content-Length: %s" % length)
            if rng.random() < 0.05:
                lines[-1] = "Transfer-Encoding: chunked"
                body = rng.choice([b"FFFFFFFFFFFFFFFF\r\nabc\r\n", b"4\r\nname\r\n0\r\n\r\n", b"zz\r\n"])
        lines.append("Connection: close")
        return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1", "replace") + body, (method, path)

    def one(self):
        rng = self.rng
        payload, what = self.request_bytes()
        reply = b""
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=10) as sock:
                if rng.random() < 0.1:
                    # Fragmented, or cut short.
                    cut = rng.randint(0, len(payload))
                    sock.sendall(payload[:cut])
                    time.sleep(rng.random() * 0.05)
                    if rng.random() < 0.5:
                        return
                    sock.sendall(payload[cut:])
                else:
                    sock.sendall(payload)
                # A stream runs while its camera acquires: read it for a
                # while, or not at all, and leave.
                until = None
                if b"/stream" in payload[:300]:
                    until = time.monotonic() + rng.random() * 0.5
                    sock.settimeout(0.5)
                while until is None or time.monotonic() < until:
                    try:
                        chunk = sock.recv(65536)
                    except socket.timeout:
                        break
                    if not chunk:
                        break
                    reply += chunk
        except OSError:
            return
        finally:
            self.sent += 1
        if not reply.startswith(b"HTTP/1.1 "):
            return
        status = int(reply[9:12])
        self.statuses[status] = self.statuses.get(status, 0) + 1
        if status == 200 and what is not None:
            head, _, body = reply.partition(b"\r\n\r\n")
            if what[0] != "HEAD" and what[0] != "GET" and what[0] != "POST":
                self.failures.append("%s %s answered 200" % what)
            why = served_outside_the_page(what[1], head, body if what[0] != "HEAD" else b"")
            if why:
                self.failures.append(why)
        if status == 200 and b"root:" in reply:
            self.failures.append("%s served /etc/passwd" % (what,))


def slow_clients(port, stop):
    """A byte-at-a-time client and a handful of silent ones, renewed as the
    server closes them."""
    socks = []
    while not stop.is_set():
        try:
            while len(socks) < 8:
                socks.append(socket.create_connection(("127.0.0.1", port), timeout=1))
            for sock in socks[:2]:
                sock.send(b"G")
        except OSError:
            for sock in socks:
                sock.close()
            socks = []
        time.sleep(0.2)
    for sock in socks:
        sock.close()


def port_closed(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
        return False
    except OSError:
        return True


def one_round(tool, seconds, rng, clients):
    path = world(rng)
    try:
        viewer = Viewer(tool, "--backend", "all", world=path)
        state = viewer.state()
        for camera in state["cameras"]:
            viewer.request("POST", "/api/cameras/%s/start" % camera["id"])
        fuzzers = [Fuzzer(viewer.port, random.Random(rng.random())) for _ in range(clients)]
        stop = threading.Event()
        deadline = time.monotonic() + seconds

        def run(fuzzer):
            while time.monotonic() < deadline and viewer.process.poll() is None:
                fuzzer.one()

        threads = [threading.Thread(target=run, args=(f,)) for f in fuzzers]
        threads.append(threading.Thread(target=slow_clients, args=(viewer.port, stop)))
        for thread in threads:
            thread.start()
        for thread in threads[:-1]:
            thread.join()
        crashed = viewer.process.poll() is not None
        present = []
        if not crashed:
            try:
                present = [c["present"] for c in viewer.state()["cameras"]]
            except (AssertionError, OSError, ValueError):
                pass
        # Ctrl-C with the slow clients still connected.
        began = time.monotonic()
        if not crashed:
            viewer.process.send_signal(signal.SIGINT)
        while not port_closed(viewer.port) and time.monotonic() - began < 5:
            time.sleep(0.01)
        closed_after = time.monotonic() - began
        stop.set()
        threads[-1].join()
        if crashed:
            status, err = viewer.process.returncode, viewer.process.stderr.read()
        else:
            try:
                _, err = viewer.process.communicate(timeout=30)
                status = viewer.process.returncode
            except subprocess.TimeoutExpired:
                viewer.process.kill()
                _, err = viewer.process.communicate()
                status, err = -1, err + "\n(killed: did not stop on Ctrl-C)"
        stopped_after = time.monotonic() - began
        return fuzzers, crashed, present, closed_after, stopped_after, status, err
    finally:
        os.remove(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tool")
    parser.add_argument("--seconds", type=float, default=75)
    parser.add_argument("--round-seconds", type=float, default=12)
    parser.add_argument("--clients", type=int, default=4)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    print("view fuzz: seed %d, %g s" % (seed, args.seconds), flush=True)
    end = time.monotonic() + args.seconds
    failures = []
    sent = 0
    statuses = {}
    rounds = 0
    removed = 0
    slowest = 0.0
    while time.monotonic() < end and not failures:
        seconds = max(1.0, min(args.round_seconds, end - time.monotonic()))
        fuzzers, crashed, present, closed_after, stopped_after, status, err = one_round(
            args.tool, seconds, rng, args.clients)
        rounds += 1
        removed += present.count(False)
        slowest = max(slowest, stopped_after)
        for fuzzer in fuzzers:
            sent += fuzzer.sent
            for code, count in fuzzer.statuses.items():
                statuses[code] = statuses.get(code, 0) + count
            failures += fuzzer.failures
        for finding in SANITIZER_FINDINGS:
            if finding in err:
                failures.append("round %d: %s\n%s" % (rounds, finding, err[-6000:]))
        if crashed:
            failures.append("round %d: the viewer ended during the run (status %s)\n%s" %
                            (rounds, status, err[-6000:]))
        elif status != 0:
            failures.append("round %d: exit status %s after Ctrl-C\n%s" % (rounds, status, err[-6000:]))
        if closed_after > 1.0 or stopped_after > 1.0:
            failures.append("round %d: the port closed %.2f s and the process ended %.2f s after Ctrl-C" %
                            (rounds, closed_after, stopped_after))
        print("round %d: %d cameras removed, port closed %.3f s and process ended %.3f s after Ctrl-C"
              % (rounds, present.count(False), closed_after, stopped_after), flush=True)
    print("view fuzz: %d rounds, %d connections, %d cameras removed and brought back, answers %s, "
          "slowest stop %.3f s" % (rounds, sent, removed, dict(sorted(statuses.items())), slowest))
    if failures:
        print("view fuzz: FAILED (seed %d)" % seed)
        for failure in failures[:20]:
            print("  " + failure)
        return 1
    print("view fuzz: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
