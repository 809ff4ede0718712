#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that holds back every chunk it forwards, in each direction, by a
fixed delay, so that a client and a server on this machine see a network round trip.

    latencyproxy.py --target PORT [--listen PORT] [--rtt-ms 50] [--rate-mbit 0]
                    [--lifetime-s 600]

Listens on 127.0.0.1 (port 0: a free one) and forwards each connection to 127.0.0.1:TARGET.
Each direction adds half the round-trip time, and a new connection one round trip before its
first data (the handshake); order is kept. Without --rate-mbit bandwidth is not limited (meant
for many small files: what one direction has read and not yet forwarded is held in memory).
With it, each direction is one link of that many megabits per second shared by all
connections, as a home line is: a chunk leaves once the link has sent what came before it, and
a direction holds at most 4 MiB per connection before it stops reading.
Prints "port N" once it listens, and stops by itself after --lifetime-s seconds or on
SIGTERM/SIGINT. Only loopback addresses are used, and at most --max-connections at once.
"""
import argparse
import asyncio
import signal
import socket
import sys

LOOPBACK = "127.0.0.1"
CHUNK = 256 * 1024


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--target", type=int, required=True, help="server port on 127.0.0.1")
    parser.add_argument("--listen", type=int, default=0, help="port to listen on (0: free)")
    parser.add_argument("--rtt-ms", type=float, default=50.0, help="added round-trip time")
    parser.add_argument("--rate-mbit", type=float, default=0.0,
                        help="bandwidth of each direction in Mbit/s (0: unlimited)")
    parser.add_argument("--lifetime-s", type=float, default=600.0, help="stop after this")
    parser.add_argument("--max-connections", type=int, default=64)
    return parser.parse_args()


def no_delay(writer):
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


class Link:
    """One direction of a line of limited bandwidth, shared by every connection."""

    SLICE = 16 * 1024  # sent as one piece: smaller pieces interleave the connections finely

    def __init__(self, rate_mbit):
        self.bytes_per_s = rate_mbit * 1e6 / 8
        self.free_at = 0.0  # when the line has sent everything handed to it so far

    async def send(self, data, loop):
        """Waits until `data` has crossed the line, slice by slice."""
        for start in range(0, len(data), self.SLICE):
            piece = min(self.SLICE, len(data) - start)
            self.free_at = max(self.free_at, loop.time()) + piece / self.bytes_per_s
            await asyncio.sleep(self.free_at - loop.time())


async def read_side(reader, queue, loop):
    """Stamps each chunk with its arrival time; None marks the end of the stream."""
    try:
        while True:
            data = await reader.read(CHUNK)
            if not data:
                break
            await queue.put((loop.time(), data))
    except (ConnectionError, OSError):
        pass
    await queue.put((loop.time(), None))


async def write_side(writer, queue, delay, link, loop):
    """Forwards each chunk once it is `delay` seconds old and, with a link, has crossed it,
    in arrival order."""
    try:
        while True:
            arrived, data = await queue.get()
            wait = arrived + delay - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                if writer.can_write_eof():
                    writer.write_eof()
                break
            if link:
                await link.send(data, loop)
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError):
        pass


async def pipe(reader, writer, delay, link):
    loop = asyncio.get_running_loop()
    # Without a link the other side is as fast as loopback: hold whatever comes.
    queue = asyncio.Queue(maxsize=4 * 1024 * 1024 // CHUNK if link else 0)
    await asyncio.gather(read_side(reader, queue, loop),
                         write_side(writer, queue, delay, link, loop))


class Proxy:
    def __init__(self, args):
        self.args = args
        self.delay = args.rtt_ms / 2000.0  # one way, in seconds
        self.up = Link(args.rate_mbit) if args.rate_mbit > 0 else None
        self.down = Link(args.rate_mbit) if args.rate_mbit > 0 else None
        self.open = 0

    async def handle(self, client_reader, client_writer):
        if self.open >= self.args.max_connections:
            client_writer.close()
            return
        self.open += 1
        try:
            server_reader, server_writer = await asyncio.open_connection(
                LOOPBACK, self.args.target)
        except OSError:
            self.open -= 1
            client_writer.close()
            return
        no_delay(client_writer)
        no_delay(server_writer)
        try:
            # A new connection costs one round trip (the TCP handshake) before any data.
            await asyncio.sleep(2 * self.delay)
            await asyncio.gather(pipe(client_reader, server_writer, self.delay, self.up),
                                 pipe(server_reader, client_writer, self.delay, self.down))
        except asyncio.CancelledError:
            pass  # the proxy is stopping
        finally:
            self.open -= 1
            for writer in (client_writer, server_writer):
                writer.close()


async def main():
    args = parse_args()
    proxy = Proxy(args)
    server = await asyncio.start_server(proxy.handle, LOOPBACK, args.listen, backlog=64)
    port = server.sockets[0].getsockname()[1]
    print("port %d" % port, flush=True)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, stop.set)
    loop.call_later(args.lifetime_s, stop.set)
    async with server:
        await stop.wait()
    return 0


if __name__ == "__main__":
    sys.exit(asyncio.run(main()))
