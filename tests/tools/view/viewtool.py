"""Starts `orvex view` on the simulated world for a test and stops it with
Ctrl-C, as a user would; the exit status and stderr tell whether the stop
was clean (under AddressSanitizer a leak makes the status non-zero)."""

import json
import os
import re
import signal
import socket
import subprocess
import time
import urllib.error
import urllib.parse
import urllib.request

SANITIZER_FINDINGS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                      "WARNING: ThreadSanitizer")


class Viewer:
    def __init__(self, tool, *extra, world=None):
        """`world`: a world file for the simulator; the built-in world without."""
        self.tool = tool
        env = dict(os.environ)
        env.pop("ORVEX_SIM_WORLD", None)
        if world is not None:
            env["ORVEX_SIM_WORLD"] = world
        self.process = subprocess.Popen([tool, "view", "--listen", "127.0.0.1:0", *extra],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                        env=env)
        line = self.process.stdout.readline()
        match = re.search(r"serving (http://[^/]+)/", line)
        if not match:
            self.process.kill()
            raise RuntimeError("orvex view did not start: %r %s" % (line, self.process.stderr.read()))
        self.base = match.group(1)
        self.port = int(self.base.rsplit(":", 1)[1])

    def request(self, method, path, fields=None, timeout=10):
        """(status, body bytes) of one request."""
        data = urllib.parse.urlencode(fields).encode() if fields is not None else None
        if method == "POST" and data is None:
            data = b""
        req = urllib.request.Request(self.base + path, data=data, method=method)
        try:
            with urllib.request.urlopen(req, timeout=timeout) as response:
                return response.status, response.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()

    def json(self, method, path, fields=None):
        status, body = self.request(method, path, fields)
        return status, json.loads(body)

    def state(self):
        status, state = self.json("GET", "/api/state")
        assert status == 200, status
        return state

    def camera(self, port):
        return next(c for c in self.state()["cameras"] if c["port"] == port)

    def wait_for(self, what, seconds=30):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            value = what()
            if value:
                return value
            time.sleep(0.05)
        raise AssertionError("timed out waiting")

    def stop(self):
        """Ctrl-C; returns (exit status, stdout rest, stderr)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
        try:
            out, err = self.process.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
            return -1, out, err + "\n(killed: did not stop on Ctrl-C)"
        return self.process.returncode, out, err


class Stream:
    """One streamed answer of a camera's live images, read part by part."""

    def __init__(self, port, path, host=b"127.0.0.1", method=b"GET", receive_buffer=None):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.settimeout(20)
        if receive_buffer is not None:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.sock.connect(("127.0.0.1", port))
        self.sock.sendall(method + b" " + path.encode() + b" HTTP/1.1\r\nHost: " + host + b"\r\n\r\n")
        self.data = b""
        while b"\r\n\r\n" not in self.data and self._more():
            pass
        self.head, _, self.data = self.data.partition(b"\r\n\r\n")
        self.status = int(self.head[9:12]) if self.head.startswith(b"HTTP/1.1 ") else None
        self.opened = False

    def _more(self):
        chunk = self.sock.recv(65536)
        self.data += chunk
        return bool(chunk)

    def header(self, name):
        match = re.search(rb"(?i)\r\n" + name.encode() + rb": ([^\r]*)", self.head)
        return match.group(1).decode() if match else None

    def part(self):
        """(index, content type, body) of the next part; None once the answer ended."""
        if not self.opened:
            while len(self.data) < 15 and self._more():
                pass
            if not self.data:
                return None
            assert self.data.startswith(b"--orvex-frame\r\n"), self.data[:40]
            self.data = self.data[15:]
            self.opened = True
        while b"\r\n\r\n" not in self.data:
            if not self._more():
                assert self.data == b"", "the answer broke off in a part's headers"
                return None
        head, _, self.data = self.data.partition(b"\r\n\r\n")
        fields = dict(line.split(b": ", 1) for line in head.split(b"\r\n"))
        length = int(fields[b"Content-Length"])
        # Each part is followed at once by the next boundary.
        while len(self.data) < length + 17:
            assert self._more(), "the answer broke off in a part"
        body, tail, self.data = self.data[:length], self.data[length:length + 17], self.data[length + 17:]
        assert tail == b"\r\n--orvex-frame\r\n", tail
        return int(fields[b"X-Orvex-Index"]), fields[b"Content-Type"].decode(), body

    def ended_within(self, seconds):
        """Whether the server ends the answer within `seconds`, whatever parts come first."""
        self.sock.settimeout(seconds)
        try:
            while self._more():
                pass
            return True
        except OSError:
            return False

    def close(self):
        self.sock.close()
