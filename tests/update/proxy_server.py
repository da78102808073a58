#!/usr/bin/env python3
"""A forward HTTP proxy on loopback for the launcher's proxy tests: absolute
GET requests are passed on to their host, CONNECT opens a tunnel (HTTPS).
Every request line it is asked (and its target) is appended to --log, so a
test can tell that a run's requests went through it. Writes its port to
--port-file."""
import argparse
import socket
import socketserver
import threading

LOG_LOCK = threading.Lock()


def pipe(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        client = self.request
        head = b""
        while b"\r\n\r\n" not in head:
            data = client.recv(65536)
            if not data:
                return
            head += data
        header, rest = head.split(b"\r\n\r\n", 1)
        lines = header.split(b"\r\n")
        method, target, version = lines[0].decode("latin-1").split(" ", 2)
        with LOG_LOCK, open(self.server.log, "a") as log:
            log.write(f"{method} {target}\n")
        if method == "CONNECT":
            host, port = target.rsplit(":", 1)
            upstream = socket.create_connection((host, int(port)))
            client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            if rest:
                upstream.sendall(rest)
        else:
            # http://host:port/path -> GET /path to host:port, one request per connection
            without = target.split("://", 1)[1]
            authority, _, path = without.partition("/")
            host, _, port = authority.partition(":")
            upstream = socket.create_connection((host, int(port or 80)))
            kept = [l for l in lines[1:] if not l.lower().startswith((b"proxy-connection:", b"connection:"))]
            request = f"{method} /{path} {version}\r\n".encode("latin-1") + b"\r\n".join(kept)
            upstream.sendall(request + b"\r\nConnection: close\r\n\r\n" + rest)
        back = threading.Thread(target=pipe, args=(upstream, client), daemon=True)
        back.start()
        pipe(client, upstream)
        back.join()
        upstream.close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.log = args.log
    open(args.log, "a").close()
    with open(args.port_file, "w") as out:
        out.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()
