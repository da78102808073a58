#!/usr/bin/env python3
"""Loopback HTTP server for the transfer behaviours nginx does not offer:
no length, a stall, a silent server, a dropped connection, a redirect with a
body, a 200 page holding "404 Not Found", a 500 page, a late not-found text,
an empty 404, a delayed answer, a flaky file that fails a set number of
times (dropped mid-body, stalled, or answered 503) before it is served, and a
host in front of nginx that spoils a share of its answers (reset, cut short,
a flipped byte) in an order a seed repeats. Binds 127.0.0.1 on a free port, writes the
port to --port-file and ends by itself after --lifetime seconds."""
import argparse
import http.client
import http.server
import os
import random
import socket
import threading
import time
import urllib.parse

HOLD_LIMIT = 120  # a stalled or silent answer never lasts longer than this


FLAKY_LOCK = threading.Lock()
FLAKY_COUNTS = {}  # key -> requests seen
RANGES = {}  # key -> the Range header of its last request
SPOILERS = {}  # key -> [random.Random, answers, bytes sent, answers spoiled]
UPSTREAM_PORT = 0  # nginx's plain HTTP port, for /spoil


def flaky_body(size):
    """The flaky file's bytes: a repeating pattern that a cut copy cannot match."""
    pattern = bytes(range(256))
    return (pattern * (size // 256 + 1))[:size]


def hold_until_closed(sock):
    """Keeps the connection open without sending until the client goes."""
    sock.settimeout(1.0)
    end = time.monotonic() + HOLD_LIMIT
    while time.monotonic() < end:
        try:
            if sock.recv(4096) == b"":
                return
        except socket.timeout:
            continue
        except OSError:
            return


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, extra=None, length=True):
        self.send_response(status)
        for k, v in (extra or {}).items():
            self.send_header(k, v)
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path.startswith("/spoil/"):
            return self.spoil(url.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        route = getattr(self, "route_" + url.path.strip("/"), None)
        if route is None:
            return self.reply(404, b"")
        route(query)

    def route_nolength(self, q):
        self.reply(200, b"x" * int(q.get("size", "100000")), length=False)

    def route_stall(self, q):
        self.send_response(200)
        self.send_header("Content-Length", "100000")
        self.end_headers()
        self.wfile.write(b"y" * 10)
        self.wfile.flush()
        hold_until_closed(self.connection)
        self.close_connection = True

    def route_silent(self, q):
        hold_until_closed(self.connection)
        self.close_connection = True

    def route_drop(self, q):
        self.send_response(200)
        self.send_header("Content-Length", "100000")
        self.end_headers()
        self.wfile.write(b"z" * 1000)
        self.wfile.flush()
        self.connection.shutdown(socket.SHUT_RDWR)
        self.close_connection = True

    def route_redirect(self, q):
        self.reply(302, b"moved to another place", {"Location": "/fake404"})

    def route_fake404(self, q):
        self.reply(200, b"<p>404 Not Found</p> with status 200")

    def route_error500(self, q):
        self.reply(500, b"<h1>500 Internal Server Error</h1>")

    def route_empty404(self, q):
        self.reply(404, b"")

    def route_percent404(self, q):
        self.reply(404, b"404 Not Found %s %d %n %%")

    def route_late404(self, q):
        first, second = b"a" * 100, b" 404 Not Found"
        self.send_response(200)
        self.send_header("Content-Length", str(len(first) + len(second)))
        self.end_headers()
        self.wfile.write(first)
        self.wfile.flush()
        time.sleep(0.3)
        self.wfile.write(second)
        self.wfile.flush()

    def route_flaky(self, q):
        """/flaky?key=K&mode=drop|stall|503&fails=N&size=S: the first N
        requests for K fail in that way, the later ones get the whole file
        (S bytes of a pattern, or the bytes of the local file given as file=);
        /flaky?key=K&count=1 answers how many requests K has seen."""
        key = q.get("key", "")
        if q.get("count"):
            with FLAKY_LOCK:
                seen = FLAKY_COUNTS.get(key, 0)
            return self.reply(200, str(seen).encode())
        with FLAKY_LOCK:
            seen = FLAKY_COUNTS.get(key, 0)
            FLAKY_COUNTS[key] = seen + 1
        if q.get("file"):
            with open(q["file"], "rb") as f:
                body = f.read()
        else:
            body = flaky_body(int(q.get("size", "100000")))
        if seen >= int(q.get("fails", "1")):
            return self.reply(200, body)
        mode = q.get("mode", "drop")
        if mode == "503":
            return self.reply(503, b"<h1>503 Service Unavailable</h1>")
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if mode == "stall":
            self.wfile.write(body[:10])
            self.wfile.flush()
            hold_until_closed(self.connection)
        else:
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
        self.close_connection = True

    def route_norange(self, q):
        """/norange?key=K&file=F: the whole file with a 200, whatever Range the
        request asks for; /norange?key=K&count=1 answers the Range header of
        K's last request ("-" when it had none)."""
        key = q.get("key", "")
        if q.get("count"):
            with FLAKY_LOCK:
                seen = RANGES.get(key, "-")
            return self.reply(200, seen.encode())
        with FLAKY_LOCK:
            RANGES[key] = self.headers.get("Range", "-")
        with open(q["file"], "rb") as f:
            body = f.read()
        self.reply(200, body)

    def spoil(self, path):
        """/spoil/KEY/SEED/PERCENT/PATH: PATH from nginx, Range header and all,
        with PERCENT of the answers spoiled: the connection reset before any
        answer, the body cut at a random point, or one byte of it flipped.
        /spoil/KEY/count answers "ANSWERS SPOILED BYTES": the bytes of
        bodies sent to the client, spoiled ones included."""
        parts = path.split("/", 5)
        key = parts[2]
        if len(parts) == 4 and parts[3] == "count":
            with FLAKY_LOCK:
                _, answers, sent, spoiled = SPOILERS.get(key, [None, 0, 0, 0])
            return self.reply(200, ("%d %d %d" % (answers, spoiled, sent)).encode())
        seed, percent, rest = int(parts[3]), int(parts[4]), "/" + parts[5]
        with FLAKY_LOCK:
            state = SPOILERS.setdefault(key, [random.Random(seed), 0, 0, 0])
            rng = state[0]
            state[1] += 1
            spoiled = rng.randrange(100) < percent
            kind = rng.choice(("reset", "cut", "flip")) if spoiled else ""
            where = rng.random()
            if spoiled:
                state[3] += 1
        conn = http.client.HTTPConnection("127.0.0.1", UPSTREAM_PORT, timeout=30)
        headers = {k: v for k, v in self.headers.items() if k.lower() in ("range",)}
        conn.request("GET", rest, headers=headers)
        answer = conn.getresponse()
        body = answer.read()
        conn.close()
        if kind == "reset":
            self.close_connection = True
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            self.connection.close()
            return
        if kind == "flip" and body:
            at = int(where * len(body))
            body = body[:at] + bytes([body[at] ^ 0x5A]) + body[at + 1:]
        self.send_response(answer.status)
        for k in ("Content-Range", "Content-Type", "Accept-Ranges"):
            if answer.getheader(k):
                self.send_header(k, answer.getheader(k))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if kind == "cut":
            body = body[:int(where * len(body))]
            self.close_connection = True
        self.wfile.write(body)
        self.wfile.flush()
        with FLAKY_LOCK:
            state[2] += len(body)
        if kind == "cut":
            self.connection.shutdown(socket.SHUT_RDWR)

    def route_delay(self, q):
        time.sleep(min(int(q.get("ms", "0")), 10000) / 1000.0)
        self.reply(200, q.get("body", "").encode("latin-1"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--lifetime", type=int, default=4 * 3600)
    parser.add_argument("--upstream-port", type=int, default=0)
    args = parser.parse_args()
    global UPSTREAM_PORT
    UPSTREAM_PORT = args.upstream_port
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
