"""Drives the viewer's page in headless Chromium through the DevTools
protocol, over both camera stacks with the synchronisation controller
running: a frame is drawn (a FlyCapture and a BCAM camera), a shutter change
typed into the page reaches the camera, a value the library refuses shows
the library's message, and the sync plot goes synchronised with data drawn.
With --screenshot FILE it also keeps a picture of the page."""

import base64
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from viewtool import SANITIZER_FINDINGS, Viewer

TOOL = None
SCREENSHOT = None
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


class WebSocket:
    """The little of RFC 6455 the DevTools protocol needs: text frames."""

    def __init__(self, url, timeout=30):
        match = re.match(r"ws://([^:/]+):(\d+)(/.*)", url)
        host, port, path = match.group(1), int(match.group(2)), match.group(3)
        self.sock = socket.create_connection((host, port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(("GET %s HTTP/1.1\r\nHost: %s:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n"
                           % (path, host, port, key)).encode())
        reply = b""
        while b"\r\n\r\n" not in reply:
            reply += self.sock.recv(1)
        if b" 101 " not in reply.split(b"\r\n")[0]:
            raise RuntimeError("websocket refused: %r" % reply)

    def send(self, text):
        data = text.encode()
        header = bytes([0x81])
        if len(data) < 126:
            header += bytes([0x80 | len(data)])
        elif len(data) < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", len(data))
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", len(data))
        mask = os.urandom(4)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))

    def _exactly(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise RuntimeError("websocket closed")
            data += chunk
        return data

    def receive(self):
        message = b""
        while True:
            first, second = self._exactly(2)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack(">H", self._exactly(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", self._exactly(8))[0]
            payload = self._exactly(length)
            message += payload
            if first & 0x80:
                return message.decode()

    def close(self):
        self.sock.close()


class Page:
    def __init__(self, ws):
        self.ws = ws
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.receive())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message["result"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def wait_for(self, expression, seconds=40):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            value = self.evaluate(expression)
            if value:
                return value
            time.sleep(0.1)
        raise AssertionError("page never showed: " + expression)


@unittest.skipIf(CHROMIUM is None, "chromium is not installed (Debian package 'chromium'); "
                 "scripts/setup.sh installs it")
class ViewerInChromiumTest(unittest.TestCase):
    def setUp(self):
        self.viewer = Viewer(TOOL, "--backend", "all", "--sync", "0")
        self.profile = tempfile.mkdtemp(prefix="orvex-view-chromium-")
        self.browser = subprocess.Popen(
            [CHROMIUM, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-extensions", "--remote-debugging-port=0", "--remote-allow-origins=*",
             "--user-data-dir=" + self.profile, "--window-size=1960,1200", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        url = None
        deadline = time.monotonic() + 30
        while url is None and time.monotonic() < deadline:
            line = self.browser.stderr.readline()
            if not line:
                break
            match = re.search(r"DevTools listening on (ws://\S+)", line)
            url = match.group(1) if match else None
        self.assertIsNotNone(url, "chromium did not open its DevTools port")
        port = int(re.match(r"ws://[^:]+:(\d+)/", url).group(1))
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=10))
        page = next(t for t in targets if t["type"] == "page")
        self.ws = WebSocket(page["webSocketDebuggerUrl"])
        self.page = Page(self.ws)
        self.page.call("Page.enable")

    def tearDown(self):
        self.ws.close()
        self.browser.kill()
        self.browser.wait()
        self.browser.stderr.close()
        shutil.rmtree(self.profile, ignore_errors=True)
        status, _, err = self.viewer.stop()
        for finding in SANITIZER_FINDINGS:
            self.assertNotIn(finding, err)
        self.assertEqual(status, 0, err)

    def set_input(self, name, value):
        self.page.evaluate(
            "(() => { const i = document.querySelector('#camera-2 input[name=\"%s\"]'); i.value = %s;"
            " i.dispatchEvent(new Event('change')); })()" % (name, json.dumps(value)))

    def test_live_image_settings_and_refusal_in_the_page(self):
        page = self.page
        page.call("Page.navigate", url=self.viewer.base + "/")
        page.wait_for("document.querySelector('#camera-2 .start') !== null")
        page.evaluate("document.querySelector('#camera-2 .start').click()")
        # A frame drawn: several images loaded, with pixels that are not all one grey.
        page.wait_for("Number(document.querySelector('#camera-2 .frame').dataset.frames || 0) >= 3")
        spread = page.evaluate("""new Promise((resolve) => {
            const img = document.querySelector('#camera-2 .frame');
            // Read at the next load: between loads the image is the next request, still empty.
            img.addEventListener('load', () => resolve(pixelSpread(img)), { once: true });
        }); function pixelSpread(img) {
            const c = document.createElement('canvas');
            c.width = img.naturalWidth; c.height = img.naturalHeight;
            const g = c.getContext('2d'); g.drawImage(img, 0, 0);
            const d = g.getImageData(0, 0, c.width, c.height).data;
            let lo = 255, hi = 0;
            for (let i = 0; i < d.length; i += 4) { lo = Math.min(lo, d[i]); hi = Math.max(hi, d[i]); }
            return [c.width, hi - lo];
        }""")
        self.assertGreater(spread[0], 0)
        self.assertGreater(spread[1], 0)
        # Counted through one streamed answer, its parts shown one by one,
        # not a request per image (an answer is listed once it ended).
        asked = "performance.getEntriesByType('resource').map((e) => e.name).join(' ')"
        self.assertTrue(page.evaluate("document.querySelector('#camera-2 .frame').src.startsWith('blob:')"))
        self.assertNotIn("/api/cameras/2/frame", page.evaluate(asked))
        # Stopped, the stream ends; started again, the page opens a new one.
        page.evaluate("document.querySelector('#camera-2 .stop').click()")
        page.wait_for("document.querySelector('#camera-2 .frame').hidden")
        page.wait_for("(%s).includes('/api/cameras/2/stream')" % asked)
        drawn = int(page.evaluate("document.querySelector('#camera-2 .frame').dataset.frames"))
        page.evaluate("document.querySelector('#camera-2 .start').click()")
        page.wait_for("Number(document.querySelector('#camera-2 .frame').dataset.frames) >= %d" % (drawn + 3))
        self.assertNotIn("/api/cameras/2/frame", page.evaluate(asked))
        # Stopped by another client, the page hears it only from its next
        # state poll; meanwhile it asks for no stream after the refused one.
        streams = "(%s).split('/api/cameras/2/stream').length - 1" % asked
        before = page.evaluate(streams)
        self.assertEqual(200, self.viewer.request("POST", "/api/cameras/2/stop")[0])
        page.wait_for("document.querySelector('#camera-2 .frame').hidden")
        time.sleep(0.6)
        self.assertLessEqual(page.evaluate(streams) - before, 2)  # the one that ended, one refused
        drawn = int(page.evaluate("document.querySelector('#camera-2 .frame').dataset.frames"))
        page.evaluate("document.querySelector('#camera-2 .start').click()")
        page.wait_for("Number(document.querySelector('#camera-2 .frame').dataset.frames) >= %d" % (drawn + 3))
        page.wait_for("document.querySelector('#camera-2 .index').textContent !== '—'")

        self.set_input("shutter", "7")
        self.viewer.wait_for(lambda: abs((self.viewer.camera(2)["shutter"] or 0) - 7.0) < 0.05)
        page.wait_for("document.querySelector('#camera-2 .message').textContent.includes('shutter set to 7')")

        self.set_input("shutter", "5000")
        message = page.wait_for(
            "(() => { const m = document.querySelector('#camera-2 .message');"
            " return m.classList.contains('refused') && m.textContent; })()")
        self.assertIn("shutter greater than max shutter allowed", message)
        self.assertAlmostEqual(self.viewer.camera(2)["shutter"], 7.0, places=1)

        # The BCAM driver's camera beside the FlyCapture ones.
        page.wait_for("document.querySelector('#camera-bcam-0 .title').textContent.includes('BCAM')")
        page.evaluate("document.querySelector('#camera-bcam-0 .start').click()")
        page.wait_for("Number(document.querySelector('#camera-bcam-0 .frame').dataset.frames || 0) >= 3")
        # Each camera's controls in its stack's own units.
        self.assertEqual(page.evaluate("document.querySelector('#camera-bcam-0 .shutter-unit').textContent"), "raw")
        self.assertEqual(page.evaluate("document.querySelector('#camera-bcam-0 .gain-unit').textContent"), "raw")
        self.assertEqual(page.evaluate("document.querySelector('#camera-2 .shutter-unit').textContent"), "ms")
        page.wait_for("document.querySelector('#camera-bcam-0 input[name=\"shutter\"]').value === '500'")
        page.wait_for("document.querySelector('#camera-bcam-0 .hwDate').textContent.endsWith(' ms')")
        self.assertIsNotNone(page.evaluate("document.querySelector('#camera-bcam-1 .start')"))

        # The controller started with the viewer: the page says synchronised
        # and both panels have points drawn.
        page.wait_for("document.getElementById('sync-state').dataset.state === 'synchronised'", seconds=40)
        page.wait_for("Number(document.getElementById('sync-disagreement').dataset.points) > 0"
                      " && Number(document.getElementById('sync-drift').dataset.points) > 0")
        self.assertIn("drift", page.evaluate("document.getElementById('sync-slaves').textContent"))
        self.assertFalse(page.evaluate("document.getElementById('sync').hidden"))
        page.evaluate("document.getElementById('sync-stop').click()")
        page.wait_for("document.getElementById('sync-state').dataset.state === 'stopped'")
        page.evaluate("document.getElementById('sync-master').value = 'nonsense!';"
                      " document.getElementById('sync-start').click()")
        message = page.wait_for("(() => { const m = document.getElementById('sync-message');"
                                " return m.classList.contains('refused') && m.textContent; })()")
        self.assertIn("expected a port index or a GUID", message)
        page.evaluate("document.getElementById('sync-master').value = '0';"
                      " document.getElementById('sync-start').click()")
        page.wait_for("document.getElementById('sync-state').dataset.state === 'synchronising'")

        if SCREENSHOT:
            page.evaluate("document.querySelector('#camera-0 .start').click()")
            page.wait_for("Number(document.querySelector('#camera-0 .frame').dataset.frames || 0) >= 3")
            page.wait_for("document.getElementById('sync-state').dataset.state === 'synchronised'", seconds=40)
            time.sleep(4)  # a rate, a few readings and the plot after synchronisation on screen
            size = page.call("Page.getLayoutMetrics")["cssContentSize"]
            shot = page.call("Page.captureScreenshot", format="png", captureBeyondViewport=True,
                             clip={"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1})
            with open(SCREENSHOT, "wb") as out:
                out.write(base64.b64decode(shot["data"]))


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    if len(sys.argv) > 2 and sys.argv[1] == "--screenshot":
        SCREENSHOT = sys.argv[2]
        del sys.argv[1:3]
    unittest.main()
