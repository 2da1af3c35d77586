#!/usr/bin/env python3
"""A loopback HTTP server that answers every GET and POST with SIZE bytes,
or with SIZE=json:VALUES a JSON array of objects holding VALUES values in all
(each object a value, its two members two more).

Prints the port, then ends by itself after LIFETIME seconds.

Usage: big_reply_server.py SIZE LIFETIME
"""
import http.server
import socketserver
import sys
import threading
import time

CHUNK = 1 << 20

def json_document(values):
    objects = (values - 1) // 3
    items = ('{"Location":"%07d","ArrivalStatus":"E"}' % i for i in range(objects))
    return ("[" + ",".join(items) + "]").encode()


lifetime = float(sys.argv[2])
if sys.argv[1].startswith("json:"):
    content = json_document(int(sys.argv[1][5:]))
else:
    content = b"a" * int(sys.argv[1])
size = len(content)
body = memoryview(content)  # one copy, shared by every reply


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"  # one request per connection, no keep-alive

    def log_message(self, *args):
        pass

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        try:
            for at in range(0, size, CHUNK):
                self.wfile.write(body[at:at + CHUNK])
        except (BrokenPipeError, ConnectionResetError):
            pass  # a client that stops reading at its cap is what is measured

    do_GET = answer
    do_POST = answer


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True  # a reply still being sent does not hold the exit


server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
time.sleep(lifetime)
