#!/usr/bin/env python3
"""A file server on loopback for bench/gather_shaped.sh: HTTP/1.0, one request per
connection, byte ranges (206 with Content-Range) as a web host sends them, and a cut: the
first response for each file stops after CUT (0.9) of the body it announced and the
connection closes, as a link that breaks. Every response appends "PATH RANGE SENT" to the
log, SENT being the body bytes it wrote.

usage: cut_server.py ROOT PORT LOG [CUT]
"""
import http.server
import os
import re
import socketserver
import sys
import threading

root, port, log = sys.argv[1], int(sys.argv[2]), sys.argv[3]
cut = float(sys.argv[4]) if len(sys.argv) > 4 else 0.9
lock = threading.Lock()
answered = set()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = os.path.join(root, os.path.basename(self.path))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        size = os.path.getsize(path)
        first, last = 0, size - 1
        asked = self.headers.get("Range", "")
        match = re.fullmatch(r"bytes=(\d+)-(\d*)", asked)
        if match:
            first = int(match.group(1))
            last = min(int(match.group(2)), size - 1) if match.group(2) else size - 1
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {first}-{last}/{size}")
        else:
            self.send_response(200)
        length = last - first + 1
        self.send_header("Content-Length", str(length))
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        with lock:
            send = length if self.path in answered else int(length * cut)
            answered.add(self.path)
        sent = 0
        with open(path, "rb") as f:
            f.seek(first)
            try:
                while sent < send:
                    chunk = f.read(min(1 << 20, send - sent))
                    self.wfile.write(chunk)
                    sent += len(chunk)
            except OSError:
                pass
        with lock, open(log, "a") as out:
            out.write(f"{self.path} {asked or '-'} {sent}\n")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


Server(("127.0.0.1", port), Handler).serve_forever()
