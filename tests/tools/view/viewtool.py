"""Starts `orvex view` on the simulated world for a test and stops it with
Ctrl-C, as a user would; the exit status and stderr tell whether the stop
was clean (under AddressSanitizer a leak makes the status non-zero)."""

import json
import os
import re
import signal
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
