#!/usr/bin/env python3
"""Serves one file for bench/limit-i686.sh: /cl with Content-Length, /chunked in 1 MiB chunks.

usage: serve.py FILE PORTFILE   (listens on 127.0.0.1 at an ephemeral port, written to PORTFILE)
"""
import http.server
import os
import socketserver
import sys

PATH = sys.argv[1]
CHUNK = 1024 * 1024


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        try:
            self.send_file()
        except ConnectionError:
            pass  # a client that refuses the body (past its limit) closes while it is sent

    def send_file(self):
        size = os.path.getsize(PATH)
        self.close_connection = True
        with open(PATH, "rb") as f:
            if self.path.startswith("/cl"):
                self.send_response(200)
                self.send_header("Content-Length", str(size))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.flush()
                self.connection.sendfile(f)
            elif self.path.startswith("/chunked"):
                self.send_response(200)
                self.send_header("Transfer-Encoding", "chunked")
                self.send_header("Connection", "close")
                self.end_headers()
                while True:
                    block = f.read(CHUNK)
                    if not block:
                        break
                    self.wfile.write(b"%x\r\n" % len(block) + block + b"\r\n")
                self.wfile.write(b"0\r\n\r\n")
            else:
                self.send_error(404)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
with open(sys.argv[2], "w") as out:
    out.write(str(server.server_address[1]))
server.serve_forever()
