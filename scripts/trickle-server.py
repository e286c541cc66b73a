#!/usr/bin/env python3
"""Serves every GET on 127.0.0.1 slowly, so a download stays visibly running.

Prints the port it listens on, then serves until it is stopped. Each answer
is SIZE bytes of a repeating pattern, sent a few kilobytes at a time.
"""
import http.server
import sys
import time

SIZE = int(sys.argv[1]) if len(sys.argv) > 1 else 8 << 20
CHUNK = 8 << 10
PAUSE = 0.05   # about 160 KB/s: a few seconds show progress, none finish


class Trickle(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(SIZE))
        self.end_headers()
        pattern = bytes(range(256)) * (CHUNK // 256)
        try:
            for offset in range(0, SIZE, CHUNK):
                self.wfile.write(pattern[: min(CHUNK, SIZE - offset)])
                self.wfile.flush()
                time.sleep(PAUSE)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Trickle)
print(server.server_address[1], flush=True)
server.serve_forever()
