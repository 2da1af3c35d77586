#!/usr/bin/env python3
"""A loopback port that listens and never accepts.

The kernel completes the handshake, so a client's connect succeeds, but the
request is never read and no reply ever comes: every transfer stalls until
the client gives up. Prints the port, then ends by itself after LIFETIME
seconds.

Usage: stalled_server.py LIFETIME
"""
import socket
import sys
import time

lifetime = float(sys.argv[1])
server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.bind(("127.0.0.1", 0))
server.listen(4096)  # room for every connection a cycle opens
print(server.getsockname()[1], flush=True)
time.sleep(lifetime)
