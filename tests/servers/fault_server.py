#!/usr/bin/env python3
"""An HTTP/1.1 server on 127.0.0.1 that misbehaves on purpose, for the
download tests.

    fault_server.py PORT                  serve until killed
    fault_server.py --tls CERT KEY PORT   the same over TLS, with that
                                          certificate chain and key (PEM)
    fault_server.py --self-test           check every endpoint on a free port

Every body is deterministic: byte i of a body with seed S is
(i * 31 + S) & 0xFF, with S from the query parameter seed=S (default 0).
Other query parameters (u=..., to make a URL unique) are ignored.

    /bytes/N               200, N bytes
    /status/CODE           that status, a short text body
    /drop/N/SENT           200, Content-Length N, SENT bytes, then the
                           connection is cut
    /trickle/N/MS          200, N bytes in 4096-byte chunks, MS ms apart
    /stall/N/SENT          200, Content-Length N, SENT bytes, then nothing
                           more until the client leaves (at most 120 s)
    /hang                  reads the request and answers nothing at all,
                           until the client leaves (at most 120 s)
    /length/N/ANNOUNCED    200, Content-Length ANNOUNCED and ANNOUNCED bytes
                           (for tests that expect N and are told otherwise)
    /script/N/STEP/...     a body of N bytes, answered by the k-th STEP at the
                           k-th request of this URL (the last STEP repeats):
        ok                 200, the whole body; any Range is ignored
        range              206 with the tail that "Range: bytes=FROM-" asks
                           for, or 200 and the whole body without a Range
        cut-SENT           as range, but only SENT bytes of the body are sent
                           before the connection is cut
        stall-SENT         as cut-SENT, but the connection is held open,
                           silent, until the client leaves
        hang               no answer at all, until the client leaves
        badrange           as range, with the bytes of another seed
        slow-MS            as ok, in 4096-byte chunks, MS ms apart
        reset              the connection is cut before any answer
        CODE, CODE-after-S that status with a short text body, and
                           Retry-After: S
        resumable-MS       without a Range, 200 and the whole body in
                           65536-byte chunks, MS ms apart, with an ETag; with
                           one (and an If-Range that is that ETag, or none),
                           206 and the tail at once
    /requests?of=KEY       text: one CRLF line per request to the script URL
                           whose u= is KEY, its Range header or "-"
    /sent?of=KEY           text: the bytes of body sent so far for that URL
    anything else          404

Each response closes its connection. Nothing is written to stdout; errors
go to stderr.
"""

import http.client
import select
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHUNK = 4096
# Bodies are built on demand; cap them so that a typo in a test cannot eat
# the machine's memory.
MAX_BODY = 1 << 30


def pattern(start, count, seed):
    """Bytes start .. start+count-1 of the body with the given seed."""
    return bytes(((i * 31 + seed) & 0xFF) for i in range(start, start + count))


def _cycle(seed):
    # The pattern repeats every 256 bytes (31 is odd), so any slice of it can
    # be cut from a long repetition of one period instead of byte by byte.
    return pattern(0, 256, seed)


def body_slice(start, count, seed):
    period = _cycle(seed)
    offset = start % 256
    reps = (offset + count) // 256 + 1
    return (period * reps)[offset:offset + count]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TesselFaultServer/1"

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):  # noqa: A002 - base class name
        pass

    def log_error(self, format, *args):  # noqa: A002
        sys.stderr.write("fault_server: " + (format % args) + "\n")

    # -- plumbing ---------------------------------------------------------

    def _headers(self, code, length, content_type="application/octet-stream"):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(length))
        self.send_header("Cache-Control", "no-store")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def _text(self, code, text):
        data = text.encode("ascii")
        self._headers(code, len(data), "text/plain")
        if self.command != "HEAD":
            self.wfile.write(data)

    def _not_found(self):
        self._text(404, "not found\n")

    def _body(self, length, seed, sent=None, pause_ms=0):
        """Writes bytes 0 .. (sent or length)-1 of the body, in chunks."""
        end = length if sent is None else min(sent, length)
        pos = 0
        while pos < end:
            count = min(CHUNK, end - pos)
            self.wfile.write(body_slice(pos, count, seed))
            self.wfile.flush()
            pos += count
            if pause_ms and pos < end:
                time.sleep(pause_ms / 1000.0)

    def _cut(self):
        """Ends the connection at once, with no more bytes."""
        self.close_connection = True
        try:
            self.wfile.flush()
        except OSError:
            pass
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        try:
            self.connection.close()
        except OSError:
            pass

    def _hang(self, seconds=120):
        """Sends nothing more until the client closes, or for `seconds`."""
        try:
            self.wfile.flush()
        except OSError:
            pass
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            readable, _, _ = select.select([self.connection], [], [], 0.5)
            if readable:
                try:
                    if not self.connection.recv(4096):
                        break
                except OSError:
                    break
        self._cut()

    # -- dispatch ---------------------------------------------------------

    def do_HEAD(self):
        self._serve()

    def do_GET(self):
        self._serve()

    def _serve(self):
        try:
            self._route()
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError):
            # The client went away: that is what some tests are about.
            self.close_connection = True

    def _route(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        parts = [p for p in url.path.split("/") if p]
        if parts[:1] == ["requests"]:
            with self.server.lock:
                seen = list(self.server.requests.get(query.get("of", [""])[0], []))
            return self._text(200, "".join(line + "\r\n" for line in seen))
        if parts[:1] == ["sent"]:
            with self.server.lock:
                sent = self.server.sent.get(query.get("of", [""])[0], 0)
            return self._text(200, "%d\r\n" % sent)
        if parts[:1] == ["script"] and len(parts) > 2 and parts[1].isdigit():
            return self._script(int(parts[1]), parts[2:], query)
        if parts == ["hang"]:
            return self._hang()
        try:
            seed = int(query.get("seed", ["0"])[0]) & 0xFF
            numbers = [int(p) for p in parts[1:]]
        except ValueError:
            return self._not_found()
        if not parts or any(n < 0 for n in numbers) or any(n > MAX_BODY for n in numbers):
            return self._not_found()
        name = parts[0]
        head = self.command == "HEAD"

        if name == "bytes" and len(numbers) == 1:
            (n,) = numbers
            self._headers(200, n)
            if not head:
                self._body(n, seed)
        elif name == "status" and len(numbers) == 1:
            (code,) = numbers
            if not 200 <= code <= 599:
                return self._not_found()
            if code in (204, 304):
                # These never carry a body.
                self.send_response(code)
                self.send_header("Cache-Control", "no-store")
                self.send_header("Connection", "close")
                self.end_headers()
                self.close_connection = True
                return None
            self._text(code, "status %d\n" % code)
        elif name == "drop" and len(numbers) == 2:
            n, sent = numbers
            self._headers(200, n)
            if not head:
                self._body(n, seed, sent=sent)
                self._cut()
        elif name == "stall" and len(numbers) == 2:
            n, sent = numbers
            self._headers(200, n)
            if not head:
                self._body(n, seed, sent=sent)
                self._hang()
        elif name == "trickle" and len(numbers) == 2:
            n, pause_ms = numbers
            self._headers(200, n)
            if not head:
                self._body(n, seed, pause_ms=pause_ms)
        elif name == "length" and len(numbers) == 2:
            _configured, announced = numbers
            self._headers(200, announced)
            if not head:
                self._body(announced, seed)
        else:
            self._not_found()
        return None


    def _resumable(self, key, n, seed, start, pause_ms):
        etag = '"pattern-%d-%d"' % (n, seed)
        if_range = self.headers.get("If-Range")
        if not start or start >= n or (if_range and if_range != etag):
            start = 0
        self.send_response(206 if start else 200)
        if start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, n - 1, n))
        self.send_header("Content-Length", str(n - start))
        self.send_header("ETag", etag)
        self.send_header("Cache-Control", "no-store")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        pos = start
        while pos < n:
            count = min(65536, n - pos)
            self.wfile.write(body_slice(pos, count, seed))
            self.wfile.flush()
            with self.server.lock:
                self.server.sent[key] = self.server.sent.get(key, 0) + count
            pos += count
            if not start and pos < n:
                time.sleep(pause_ms / 1000.0)

    def _script(self, n, steps, query):
        key = query.get("u", [self.path])[0]
        range_header = self.headers.get("Range")
        with self.server.lock:
            seen = self.server.requests.setdefault(key, [])
            seen.append(range_header or "-")
            step = steps[min(len(seen), len(steps)) - 1]
        seed = int(query.get("seed", ["0"])[0]) & 0xFF
        start = 0
        if range_header and range_header.startswith("bytes=") and range_header.endswith("-"):
            start = int(range_header[6:-1] or "0")
        words = step.split("-")
        if words[0] == "resumable":
            return self._resumable(key, n, seed, start, int(words[1]))
        if words[0] == "ok" or words[0] == "slow":
            self._headers(200, n)
            return self._body(n, seed, pause_ms=int(words[1]) if len(words) > 1 else 0)
        if words[0] == "reset":
            return self._cut()
        if words[0] == "hang":
            return self._hang()
        if words[0] in ("range", "cut", "badrange", "stall"):
            if start and start < n:
                self.send_response(206)
                self.send_header("Content-Range", "bytes %d-%d/%d" % (start, n - 1, n))
            else:
                self.send_response(200)
                start = 0
            self.send_header("Content-Length", str(n - start))
            self.send_header("Cache-Control", "no-store")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            partial = words[0] in ("cut", "stall")
            sent = min(int(words[1]), n - start) if partial else n - start
            self.wfile.write(body_slice(start, sent, seed if words[0] != "badrange" else seed + 1))
            if words[0] == "cut":
                self._cut()
            elif words[0] == "stall":
                self._hang()
            return None
        if words[0].isdigit():
            text = ("status %s\n" % words[0]).encode("ascii")
            self.send_response(int(words[0]))
            if len(words) == 3 and words[1] == "after":
                self.send_header("Retry-After", words[2])
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(text)))
            self.send_header("Cache-Control", "no-store")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            self.wfile.write(text)
            return None
        return self._not_found()


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.lock = threading.Lock()
        self.requests = {}  # script key -> the Range header of each request
        self.sent = {}  # script key -> bytes of body sent

    def handle_error(self, request, client_address):
        exc = sys.exc_info()[1]
        # A client that refuses the certificate is what some tests are about.
        if isinstance(exc, (BrokenPipeError, ConnectionResetError, ConnectionAbortedError, ssl.SSLError)):
            return
        super().handle_error(request, client_address)


def serve(port, tls=None):
    server = Server(("127.0.0.1", port), Handler)
    if tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*tls)
        # The handshake then happens in the request's own thread: one client
        # that stalls in it cannot hold up the others.
        server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


# -- self-test --------------------------------------------------------------


def _request(port, method, path):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    conn.request(method, path)
    return conn, conn.getresponse()


def _read_raw(port, path):
    """Sends a GET by hand and returns (headers, body bytes received until
    the server closed the connection)."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % path).encode("ascii"))
        data = b""
        while True:
            try:
                chunk = s.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    return head.decode("latin-1"), body


def self_test():
    server = Server(("127.0.0.1", 0), Handler)
    port = server.server_address[1]
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    failures = []

    def check(cond, what):
        if not cond:
            failures.append(what)

    try:
        # The pattern itself, byte by byte, against the formula.
        check(body_slice(0, 1000, 0) == pattern(0, 1000, 0), "slice seed 0")
        check(body_slice(300, 5000, 7) == pattern(300, 5000, 7), "slice seed 7 at 300")
        check(body_slice(0, 0, 0) == b"", "empty slice")

        for n in (0, 1, 4096, 4097, 100000):
            conn, r = _request(port, "GET", "/bytes/%d?u=x%d" % (n, n))
            body = r.read()
            check(r.status == 200, "bytes/%d status" % n)
            check(r.getheader("Content-Length") == str(n), "bytes/%d length header" % n)
            check(r.getheader("Cache-Control") == "no-store", "bytes/%d cache-control" % n)
            check(r.getheader("Connection") == "close", "bytes/%d connection" % n)
            check(body == pattern(0, n, 0), "bytes/%d body" % n)
            conn.close()

        conn, r = _request(port, "GET", "/bytes/5000?seed=42&u=abc")
        check(r.read() == pattern(0, 5000, 42), "bytes seed 42 body")
        conn.close()

        conn, r = _request(port, "HEAD", "/bytes/12345")
        check(r.status == 200 and r.getheader("Content-Length") == "12345", "HEAD bytes")
        check(r.read() == b"", "HEAD has no body")
        conn.close()

        for code in (404, 500, 503, 403):
            conn, r = _request(port, "GET", "/status/%d" % code)
            body = r.read()
            check(r.status == code, "status/%d" % code)
            check(r.getheader("Content-Length") == str(len(body)) and body, "status/%d body" % code)
            conn.close()

        conn, r = _request(port, "GET", "/status/204")
        check(r.status == 204 and r.read() == b"", "status/204")
        conn.close()

        head, body = _read_raw(port, "/drop/100000/30000")
        check(head.startswith("HTTP/1.1 200"), "drop status")
        check("Content-Length: 100000" in head, "drop length header")
        check(body == pattern(0, 30000, 0), "drop body is the first SENT bytes (got %d)" % len(body))

        conn, r = _request(port, "GET", "/drop/5000/1000")
        try:
            r.read()
            failures.append("drop: http.client saw a complete body")
        except http.client.IncompleteRead as e:
            check(len(e.partial) == 1000, "drop partial length")
        conn.close()

        start = time.monotonic()
        conn, r = _request(port, "GET", "/trickle/20000/50")
        body = r.read()
        elapsed = time.monotonic() - start
        check(body == pattern(0, 20000, 0), "trickle body")
        # Five chunks, four pauses of 50 ms.
        check(elapsed >= 0.19, "trickle too fast (%.3f s)" % elapsed)
        conn.close()

        # A client that leaves mid-trickle must not upset the server.
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        s.sendall(b"GET /trickle/1000000/20 HTTP/1.1\r\nHost: x\r\n\r\n")
        s.recv(100)
        s.close()
        time.sleep(0.1)

        conn, r = _request(port, "GET", "/length/1000/600?seed=3")
        body = r.read()
        check(r.status == 200 and r.getheader("Content-Length") == "600", "length header")
        check(body == pattern(0, 600, 3), "length body")
        conn.close()

        # Scripts: one step per request, the last repeating, and a record.
        head, body = _read_raw(port, "/script/10000/cut-4000/range?u=s1")
        check(head.startswith("HTTP/1.1 200") and "Content-Length: 10000" in head, "cut head")
        check(body == pattern(0, 4000, 0), "cut body (got %d)" % len(body))
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        conn.request("GET", "/script/10000/cut-4000/range?u=s1", headers={"Range": "bytes=4000-"})
        r = conn.getresponse()
        check(r.status == 206 and r.getheader("Content-Range") == "bytes 4000-9999/10000", "range head")
        check(r.read() == pattern(0, 10000, 0)[4000:], "range body")
        conn.close()
        conn, r = _request(port, "GET", "/script/10000/503-after-2/ok?u=s2")
        check(r.status == 503 and r.getheader("Retry-After") == "2", "status step")
        r.read()
        conn.close()
        for _ in range(2):
            conn, r = _request(port, "GET", "/script/10000/503-after-2/ok?u=s2")
            check(r.status == 200 and r.read() == pattern(0, 10000, 0), "last step repeats")
            conn.close()
        conn, r = _request(port, "GET", "/requests?of=s1")
        check(r.read() == b"-\r\nbytes=4000-\r\n", "request record")
        conn.close()
        conn, r = _request(port, "GET", "/requests?of=s2")
        check(r.read() == b"-\r\n-\r\n-\r\n", "request count")
        conn.close()
        head, body = _read_raw(port, "/script/10/reset?u=s3")
        check(head == "" and body == b"", "reset")

        # Stalls: what was sent arrives, then silence until the client leaves.
        for path, status, sent in (("/stall/10000/3000", "200", 3000), ("/hang", None, 0)):
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                s.sendall(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % path).encode("ascii"))
                s.settimeout(1.0)
                data = b""
                try:
                    while True:
                        chunk = s.recv(65536)
                        if not chunk:
                            break
                        data += chunk
                except socket.timeout:
                    pass
                head, _, body = data.partition(b"\r\n\r\n")
                if status:
                    check(head.startswith(b"HTTP/1.1 " + status.encode()), "%s status" % path)
                check(len(body) == sent and (not status or body == pattern(0, sent, 0)), "%s body" % path)

        for path in ("/", "/nothing", "/bytes", "/bytes/x", "/bytes/1/2", "/drop/5",
                     "/status/99", "/bytes/-1"):
            conn, r = _request(port, "GET", path)
            r.read()
            check(r.status == 404, "404 for %s (got %d)" % (path, r.status))
            conn.close()

        # Many at once: the server is threaded.
        results = []

        def fetch():
            c, resp = _request(port, "GET", "/trickle/8192/200")
            results.append(len(resp.read()))
            c.close()

        start = time.monotonic()
        workers = [threading.Thread(target=fetch) for _ in range(8)]
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        elapsed = time.monotonic() - start
        check(results == [8192] * 8, "parallel bodies")
        check(elapsed < 1.0, "parallel requests ran one after another (%.3f s)" % elapsed)
    except Exception as e:  # noqa: BLE001 - report anything as a failure
        failures.append("exception: %r" % (e,))
    finally:
        server.shutdown()
        server.server_close()

    if failures:
        for f in failures:
            sys.stderr.write("FAIL: %s\n" % f)
        return 1
    print("ok")
    return 0


def main(argv):
    if len(argv) == 2 and argv[1] == "--self-test":
        return self_test()
    if len(argv) == 2 and argv[1].isdigit():
        serve(int(argv[1]))
        return 0
    if len(argv) == 5 and argv[1] == "--tls" and argv[4].isdigit():
        serve(int(argv[4]), tls=(argv[2], argv[3]))
        return 0
    sys.stderr.write("usage: fault_server.py [--tls CERT KEY] PORT | --self-test\n")
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
