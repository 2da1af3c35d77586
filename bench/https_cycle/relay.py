#!/usr/bin/env python3
"""Forwards loopback TCP connections to a target port, bytes unchanged, and
counts for each connection the bytes in each direction (TLS records and all).

Prints its port on the first line of standard output. Each connection, when
it closes, is written to LOG as one JSON line: opened, closed (epoch seconds),
up (client to server) and down bytes. On SIGTERM, on SIGUSR1 or at the end
of its lifetime it writes a summary to SUMMARY as JSON: connections, bytes up
and down (the connections still open counted as far as they got), and the
bytes each way in every 10 ms; SIGTERM and the lifetime end it.

Usage: relay.py TARGET_PORT LOG SUMMARY LIFETIME_SECONDS
"""
import asyncio
import json
import signal
import sys
import time

CHUNK = 65536
BUCKET_SECONDS = 0.01
DRAIN_SECONDS = 2


class Relay:
    def __init__(self, target_port, log_path, summary_path):
        self.target_port = target_port
        self.log = open(log_path, "a", encoding="utf-8", buffering=1)
        self.summary_path = summary_path
        self.live = {}  # connections still open, by id
        self.closed = []
        self.tasks = set()
        # Bytes each way by time, in buckets, so that a connection kept open
        # across cycles is counted in the cycle that used it.
        self.buckets = {}

    async def pump(self, reader, writer, conn, direction):
        try:
            while True:
                data = await reader.read(CHUNK)
                if not data:
                    break
                conn[direction] += len(data)
                bucket = self.buckets.setdefault(int(time.time() / BUCKET_SECONDS), [0, 0])
                bucket[direction == "down"] += len(data)
                writer.write(data)
                await writer.drain()
        except (ConnectionError, OSError):
            pass
        finally:
            # Half-close so that the other side sees the end, as it would directly.
            try:
                if writer.can_write_eof():
                    writer.write_eof()
            except (ConnectionError, OSError):
                pass

    async def handle(self, client_reader, client_writer):
        conn = {"opened": time.time(), "up": 0, "down": 0}
        self.live[id(conn)] = conn
        # A strong reference, so that the task lives as long as its connection.
        task = asyncio.current_task()
        self.tasks.add(task)
        server_writer = None
        try:
            server_reader, server_writer = await asyncio.wait_for(
                asyncio.open_connection("127.0.0.1", self.target_port), 10)
            await asyncio.gather(
                self.pump(client_reader, server_writer, conn, "up"),
                self.pump(server_reader, client_writer, conn, "down"))
        except (ConnectionError, OSError, asyncio.TimeoutError):
            pass
        finally:
            for w in (client_writer, server_writer):
                if w is not None:
                    w.close()
            conn["closed"] = time.time()
            del self.live[id(conn)]
            self.closed.append(conn)
            self.log.write(json.dumps(conn) + "\n")
            self.tasks.discard(task)

    def summary(self):
        live = list(self.live.values())
        conns = self.closed + live
        result = {"connections": len(conns), "still_open": len(live),
                  "up": sum(c["up"] for c in conns), "down": sum(c["down"] for c in conns),
                  "bucket_seconds": BUCKET_SECONDS,
                  "buckets": [[k * BUCKET_SECONDS, up, down] for k, (up, down) in sorted(self.buckets.items())]}
        with open(self.summary_path, "w", encoding="utf-8") as f:
            json.dump(result, f)
            f.write("\n")


async def main(target_port, log_path, summary_path, lifetime):
    relay = Relay(int(target_port), log_path, summary_path)
    server = await asyncio.start_server(relay.handle, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    done = asyncio.Event()
    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGTERM, done.set)
    loop.add_signal_handler(signal.SIGUSR1, relay.summary)
    try:
        await asyncio.wait_for(done.wait(), float(lifetime))
    except asyncio.TimeoutError:
        pass
    server.close()
    # Connections the client has just closed finish closing on the other side.
    for _ in range(int(DRAIN_SECONDS / 0.05)):
        if not relay.live:
            break
        await asyncio.sleep(0.05)
    relay.summary()
    for task in list(relay.tasks):
        task.cancel()
    await asyncio.gather(*relay.tasks, return_exceptions=True)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__.rsplit("\n\n", 1)[-1].strip())
    asyncio.run(main(*sys.argv[1:]))
