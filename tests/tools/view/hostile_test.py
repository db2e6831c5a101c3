"""The viewer as a server on someone's desk: other sites' pages (cross-site
requests, DNS rebinding), idle and slow clients, a second viewer on the same
port, a listen address that is no address to browse to. Each is refused
clearly or served around; none holds the viewer or its Ctrl-C."""

import json
import re
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

from viewtool import SANITIZER_FINDINGS, Stream, Viewer

TOOL = None


def exchange(port, head, body=b"", timeout=10):
    """Sends one request (head lines without the blank line) and returns
    (status, body) of the answer, or (None, b"") when the server closed."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        sock.sendall(head + b"\r\nConnection: close\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        reply = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            reply += chunk
    if not reply.startswith(b"HTTP/1.1 "):
        return None, b""
    return int(reply[9:12]), reply.partition(b"\r\n\r\n")[2]


def closed_by_server(sock, seconds):
    """Whether the server closes `sock` within `seconds` while the client
    keeps sending a byte at a time."""
    deadline = time.monotonic() + seconds
    request = b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + b"a" * 10000
    sock.settimeout(0.3)
    for byte in request:
        if time.monotonic() > deadline:
            return False
        try:
            sock.send(bytes([byte]))
            if sock.recv(1) == b"":
                return True
        except socket.timeout:
            continue
        except OSError:
            return True
    return False


class Checked(unittest.TestCase):
    def stop_cleanly(self, viewer):
        status, out, err = viewer.stop()
        for finding in SANITIZER_FINDINGS:
            self.assertNotIn(finding, err)
        self.assertEqual(status, 0, err)
        return out


class ForeignPagesTest(Checked):
    def setUp(self):
        self.viewer = Viewer(TOOL)
        self.addCleanup(self.stop_cleanly, self.viewer)

    def state_with_host(self, host):
        return exchange(self.viewer.port, b"GET /api/state HTTP/1.1\r\nHost: " + host)[0]

    def start_with(self, origin, host=None):
        host = host or b"127.0.0.1:%d" % self.viewer.port
        head = b"POST /api/cameras/0/start HTTP/1.1\r\nHost: " + host
        if origin is not None:
            head += b"\r\nOrigin: " + origin
        return exchange(self.viewer.port, head)[0]

    def test_hosts_that_do_not_name_the_viewer_are_refused(self):
        port = b"%d" % self.viewer.port
        for host in (b"127.0.0.1:" + port, b"localhost:" + port, b"LOCALHOST", b"[::1]:" + port,
                     b"127.0.0.1"):
            self.assertEqual(self.state_with_host(host), 200, host)
        # A rebinding attacker's name resolving to 127.0.0.1, with or without
        # the port; names that merely start or end like an allowed one.
        for host in (b"attacker.example:" + port, b"attacker.example", b"localhost.attacker.example:" + port,
                     b"127.0.0.1.nip.io:" + port, b"evil-localhost", b"0.0.0.0:" + port,
                     b"192.168.1.20:" + port, b"127.0.0.1:" + port + b"@evil", b"[::1", b""):
            self.assertEqual(self.state_with_host(host), 403, host)
        # No Host, or two: nothing to check it against.
        self.assertEqual(exchange(self.viewer.port, b"GET /api/state HTTP/1.0")[0], 400)
        self.assertEqual(exchange(self.viewer.port, b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                  b"Host: attacker.example")[0], 400)
        # The page itself is refused to a rebinding attacker too.
        status, body = exchange(self.viewer.port, b"GET / HTTP/1.1\r\nHost: attacker.example:" + port)
        self.assertEqual(status, 403)
        self.assertNotIn(b"Orvex viewer", body)

    def test_state_changes_only_from_the_viewers_own_page(self):
        port = b"%d" % self.viewer.port
        for origin in (b"http://attacker.example", b"http://attacker.example:" + port, b"null",
                       b"https://127.0.0.1:" + port, b"http://127.0.0.1:" + b"%d" % (self.viewer.port ^ 1),
                       b"http://127.0.0.1", b"file://", b"http://127.0.0.1:" + port + b".attacker.example"):
            self.assertEqual(self.start_with(origin), 403, origin)
        # DNS rebinding: the attacker's page is same-origin to its own name.
        self.assertEqual(self.start_with(b"http://attacker.example:" + port, b"attacker.example:" + port), 403)
        self.assertFalse(self.viewer.camera(0)["acquiring"])
        # Refused settings are not applied either.
        gain = self.viewer.camera(0)["gain"]
        status = exchange(self.viewer.port, b"POST /api/cameras/0/settings HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                          b"\r\nOrigin: http://attacker.example\r\n"
                          b"Content-Type: application/x-www-form-urlencoded", b"name=gain&value=7")[0]
        self.assertEqual(status, 403)
        self.assertEqual(self.viewer.camera(0)["gain"], gain)
        # The page's own origin, by any name it is served under, and tools
        # that send no origin at all.
        for origin in (b"http://127.0.0.1:" + port, b"http://localhost:" + port):
            self.assertEqual(self.start_with(origin), 200, origin)
        self.assertEqual(self.start_with(None), 200)
        self.assertTrue(self.viewer.camera(0)["acquiring"])


class IdleAndSlowClientsTest(Checked):
    def test_idle_connections_do_not_hold_requests(self):
        viewer = Viewer(TOOL)
        self.addCleanup(self.stop_cleanly, viewer)
        # More than one client may keep open: the oldest make room.
        idle = [socket.create_connection(("127.0.0.1", viewer.port)) for _ in range(100)]
        self.addCleanup(lambda: [s.close() for s in idle])
        results = []
        lock = threading.Lock()

        def fetch():
            try:
                # Far less than the idle ones would hold a worker each.
                status = viewer.request("GET", "/api/state", timeout=8)[0]
            except OSError as error:
                status = str(error)
            with lock:
                results.append(status)

        threads = [threading.Thread(target=fetch) for _ in range(30)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(results, [200] * len(threads))

    def test_streams_count_against_a_clients_64_connections(self):
        # Streams wait for no request: none makes room for a new connection,
        # and one that ends gives its place back at once.
        viewer = Viewer(TOOL)
        self.addCleanup(self.stop_cleanly, viewer)
        self.assertEqual(viewer.request("POST", "/api/cameras/0/start")[0], 200)
        streams = []
        self.addCleanup(lambda: [stream.close() for stream in streams])
        for _ in range(64):
            streams.append(Stream(viewer.port, "/api/cameras/0/stream", receive_buffer=4096))
            self.assertEqual(streams[-1].status, 200)

        def state():
            try:
                return exchange(viewer.port, b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1")[0]
            except OSError:
                return None  # refused with a reset

        self.assertIsNone(state())
        streams.pop().close()
        viewer.wait_for(lambda: state() == 200, seconds=5)

    def test_a_byte_at_a_time_is_cut_off_and_ctrl_c_stops_at_once(self):
        viewer = Viewer(TOOL)
        with socket.create_connection(("127.0.0.1", viewer.port)) as slow:
            # The request's time counts from its first byte, not per read.
            self.assertTrue(closed_by_server(slow, 30))
        self.assertEqual(viewer.request("GET", "/api/state")[0], 200)
        # Ctrl-C with silent, slow and half-sent clients still connected.
        idle = [socket.create_connection(("127.0.0.1", viewer.port)) for _ in range(20)]
        half = socket.create_connection(("127.0.0.1", viewer.port))
        half.sendall(b"POST /api/cameras/0/settings HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000\r\n\r\nna")
        self.addCleanup(lambda: [s.close() for s in idle + [half]])
        time.sleep(0.2)
        began = time.monotonic()
        viewer.process.send_signal(signal.SIGINT)
        try:
            out, err = viewer.process.communicate(timeout=5)
        except subprocess.TimeoutExpired:
            viewer.process.kill()
            viewer.process.communicate()
            self.fail("Ctrl-C did not stop the viewer with clients connected")
        print("stopped in %.3f s" % (time.monotonic() - began), file=sys.stderr)
        for finding in SANITIZER_FINDINGS:
            self.assertNotIn(finding, err)
        self.assertEqual(viewer.process.returncode, 0, err)
        self.assertIn("stopped", out)


    def test_answers_not_taken_within_10_seconds_end_the_connection(self):
        # 400 answers of the page's script (4 MB) to a client that never
        # reads: the server sends what the socket takes, gives the rest 10
        # seconds, then closes the connection, and serves the others.
        viewer = Viewer(TOOL)
        with socket.create_connection(("127.0.0.1", viewer.port)) as hoarder:
            hoarder.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
            hoarder.sendall(b"GET /viewer.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" * 400)
            began = time.monotonic()
            time.sleep(8)
            self.assertEqual(viewer.request("GET", "/api/state")[0], 200)
            time.sleep(3.5)
            received, ended = 0, False
            hoarder.settimeout(5)
            try:
                while True:
                    chunk = hoarder.recv(1 << 20)
                    if not chunk:
                        ended = True
                        break
                    received += len(chunk)
            except ConnectionResetError:
                ended = True
            except socket.timeout:
                pass
            self.assertTrue(ended, "still open after %.1f s" % (time.monotonic() - began))
            self.assertLess(received, 400 * 10000)
        self.assertEqual(viewer.request("GET", "/api/state")[0], 200)
        self.stop_cleanly(viewer)

    def test_a_stream_not_taken_within_10_seconds_is_closed(self):
        # A page that opens a camera's stream and never reads it: once the
        # sockets hold what they take, the part under way gets 10
        # seconds, then the stream is closed; another page's stream of the
        # same camera goes on meanwhile.
        viewer = Viewer(TOOL)
        for name, value in (("roi", "0,0,640,480"), ("frame-rate", "30")):
            self.assertEqual(viewer.request("POST", "/api/cameras/0/settings", {"name": name, "value": value})[0],
                             200, name)
        self.assertEqual(viewer.request("POST", "/api/cameras/0/start")[0], 200)
        with socket.create_connection(("127.0.0.1", viewer.port)) as hoarder:
            hoarder.sendall(b"GET /api/cameras/0/stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            began = time.monotonic()
            reader = Stream(viewer.port, "/api/cameras/0/stream")
            self.assertEqual(reader.status, 200)
            while time.monotonic() - began < 12:
                self.assertIsNotNone(reader.part())
            reader.close()
            # Closed: what the sockets held comes at once, then the end. Open,
            # parts would go on coming as they are taken.
            ended, draining = False, time.monotonic()
            hoarder.settimeout(2)
            try:
                while time.monotonic() - draining < 2:
                    if not hoarder.recv(1 << 20):
                        ended = True
                        break
            except ConnectionResetError:
                ended = True
            except socket.timeout:
                pass
            self.assertTrue(ended, "still open after %.1f s" % (time.monotonic() - began))
        self.assertEqual(viewer.request("GET", "/api/state")[0], 200)
        self.stop_cleanly(viewer)

class ListeningTest(Checked):
    def run_view(self, listen):
        return subprocess.run([TOOL, "view", "--listen", listen], capture_output=True, text=True, timeout=30)

    def test_a_second_viewer_on_the_same_port_is_refused(self):
        first = Viewer(TOOL)
        self.addCleanup(self.stop_cleanly, first)
        for listen in ("127.0.0.1:%d" % first.port, "0.0.0.0:%d" % first.port):
            second = self.run_view(listen)
            self.assertNotEqual(second.returncode, 0, listen)
            self.assertIn("address in use", second.stderr, listen)
            self.assertNotIn("serving", second.stdout, listen)
        self.assertEqual(first.request("GET", "/api/state")[0], 200)

    def test_every_address_prints_an_url_that_opens(self):
        for listen in ("0:0", "0.0.0.0:0"):
            process = subprocess.Popen([TOOL, "view", "--listen", listen], stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, text=True)
            line = process.stdout.readline()
            process.send_signal(signal.SIGINT)
            out, err = process.communicate(timeout=30)
            match = re.search(r"serving (http://127\.0\.0\.1:(\d+)/)", line)
            self.assertIsNotNone(match, (listen, line, err))
            self.assertNotEqual(match.group(2), "0")
            self.assertEqual(process.returncode, 0, err)

    def test_url_from_every_address_serves_the_page(self):
        process = subprocess.Popen([TOOL, "view", "--listen", "0.0.0.0:0"], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        try:
            url = re.search(r"serving (\S+)", process.stdout.readline()).group(1)
            port = int(url.rsplit(":", 1)[1].rstrip("/"))
            status, body = exchange(port, b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d" % port)
            self.assertEqual(status, 200)
            self.assertIn(b"Orvex viewer", body)
            # Listening everywhere, this machine's own name is the viewer too.
            status = exchange(port, b"GET /api/state HTTP/1.1\r\nHost: " + socket.gethostname().encode())[0]
            self.assertEqual(status, 200)
        finally:
            process.send_signal(signal.SIGINT)
            process.communicate(timeout=30)

    def test_malformed_listen_addresses_are_usage_errors(self):
        for listen in ("8080", "127.0.0.1:", "127.0.0.1:65536", "127.0.0.1:-1", "127.0.0.1:80a", ":8080"):
            run = self.run_view(listen)
            self.assertEqual(run.returncode, 2, (listen, run.stderr))
            self.assertIn("--listen", run.stderr)
        run = self.run_view("no.such.host.invalid:0")
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn("cannot listen on no.such.host.invalid:0", run.stderr)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
