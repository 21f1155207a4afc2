"""An emulated wide-area link between a client and one server on loopback,
which has neither a round-trip time nor a bandwidth of its own (and these
machines have no kernel traffic shaping).

It listens on a port and forwards every connection to the target. Each new
connection waits one round trip before its first byte moves (the TCP
handshake), every chunk arrives half a round trip after it has crossed the
link, and all connections share one bandwidth per direction: a chunk takes
the link for its size / bandwidth, behind every chunk that came before it
from any connection. A connection keeps at most a window of bytes on the
link per direction (twice the bandwidth-delay product, 256 KiB at least),
as TCP would, so that a fast sender waits rather than queue without bound.

Usage: link.py --listen PORT --target HOST:PORT --rtt-ms MS --mbit MBIT
               [--stats FILE]
The stats file is rewritten after every accepted and every ended
connection: {"connections": N, "up": bytes, "down": bytes}."""
import argparse
import asyncio
import collections
import json
import os
import signal

CHUNK = 64 * 1024


class Direction:
    """One direction of the link, shared by every connection."""

    def __init__(self, bytes_per_second, half_rtt):
        self.rate = bytes_per_second
        self.half_rtt = half_rtt
        self.free_at = 0.0
        self.bytes = 0

    def send(self, now, size):
        """When a chunk of `size` bytes handed to the link at `now` arrives."""
        start = max(now, self.free_at)
        self.free_at = start + size / self.rate
        self.bytes += size
        return self.free_at + self.half_rtt


class Stats:
    def __init__(self, path):
        self.path = path
        self.connections = 0

    def write(self, up, down):
        if not self.path:
            return
        tmp = self.path + '.tmp'
        with open(tmp, 'w') as f:
            json.dump({'connections': self.connections, 'up': up.bytes, 'down': down.bytes}, f)
        os.replace(tmp, self.path)


async def pump(reader, writer, direction, window, opened):
    """Moves one direction of one connection across the link."""
    loop = asyncio.get_running_loop()
    queue = collections.deque()
    in_flight = 0
    room = asyncio.Event()
    room.set()
    arrived = asyncio.Event()
    ended = False

    async def deliver():
        nonlocal in_flight
        while True:
            while not queue:
                if ended:
                    return
                arrived.clear()
                await arrived.wait()
            at, data = queue.popleft()
            delay = at - loop.time()
            if delay > 0:
                await asyncio.sleep(delay)
            if data is None:
                return
            writer.write(data)
            await writer.drain()
            in_flight -= len(data)
            if in_flight < window:
                room.set()

    delivery = asyncio.ensure_future(deliver())
    try:
        await opened
        while True:
            await room.wait()
            data = await reader.read(CHUNK)
            if not data:
                break
            queue.append((direction.send(loop.time(), len(data)), data))
            in_flight += len(data)
            if in_flight >= window:
                room.clear()
            arrived.set()
        # The end of the stream follows the last byte across the link.
        queue.append((loop.time() + direction.half_rtt, None))
    except (ConnectionError, OSError):
        pass
    finally:
        ended = True
        arrived.set()
        try:
            await delivery
        except (ConnectionError, OSError):
            pass
        try:
            if writer.can_write_eof():
                writer.write_eof()
        except (ConnectionError, OSError):
            pass


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--listen', type=int, required=True)
    parser.add_argument('--target', required=True)
    parser.add_argument('--rtt-ms', type=float, required=True)
    parser.add_argument('--mbit', type=float, required=True)
    parser.add_argument('--stats')
    args = parser.parse_args()
    host, port = args.target.rsplit(':', 1)
    rate = args.mbit * 1e6 / 8
    rtt = args.rtt_ms / 1000.0
    window = max(256 * 1024, int(2 * rate * rtt))
    up = Direction(rate, rtt / 2)
    down = Direction(rate, rtt / 2)
    stats = Stats(args.stats)
    stats.write(up, down)
    loop = asyncio.get_running_loop()

    async def serve(client_reader, client_writer):
        stats.connections += 1
        stats.write(up, down)
        try:
            server_reader, server_writer = await asyncio.open_connection(host, int(port))
        except OSError:
            client_writer.close()
            return
        # The handshake's round trip before anything moves.
        opened = asyncio.ensure_future(asyncio.sleep(rtt))
        try:
            await asyncio.gather(pump(client_reader, server_writer, up, window, opened),
                                 pump(server_reader, client_writer, down, window, opened))
        finally:
            for w in (client_writer, server_writer):
                w.close()
            stats.write(up, down)

    # A stop ends every connection on the spot, as a pulled cable would:
    # the last figures first.
    def stop():
        stats.write(up, down)
        os._exit(0)

    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop)
    server = await asyncio.start_server(serve, '127.0.0.1', args.listen, backlog=64)
    async with server:
        await server.serve_forever()


if __name__ == '__main__':
    asyncio.run(main())
