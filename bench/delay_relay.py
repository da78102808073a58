#!/usr/bin/env python3
"""A loopback TCP relay that holds what a client sends for --delay-ms before
passing it on to --target: in front of nginx every request then takes that
much longer to arrive (a long route's round trip), while nginx's limit_rate
caps each connection (a capped CDN edge). Each client connection is one
connection to the target, so a per-connection cap stays per connection.
Binds 127.0.0.1 on a free port and writes it to --port-file."""
import argparse
import asyncio
import os


async def pipe(reader, writer, delay):
    try:
        while True:
            data = await reader.read(256 * 1024)
            if not data:
                break
            if delay:
                await asyncio.sleep(delay)
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError):
        pass
    finally:
        try:
            writer.close()
        except OSError:
            pass


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--delay-ms", type=int, default=50)
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()
    delay = args.delay_ms / 1000.0

    async def serve(client_reader, client_writer):
        try:
            upstream_reader, upstream_writer = await asyncio.open_connection("127.0.0.1", args.target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pipe(client_reader, upstream_writer, delay), pipe(upstream_reader, client_writer, 0))

    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    os.replace(tmp, args.port_file)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
