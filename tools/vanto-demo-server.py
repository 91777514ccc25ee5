#!/usr/bin/env python3
"""A small download server for vantoup: serves a folder over plain HTTP on the loopback interface.

It is what vantoup talks to in the end-to-end tests and the demo: the information file and the
installer lie in the served folder, and a few switches make the server misbehave on purpose.

Examples:
  # Serve ./site on an ephemeral port; the chosen port is printed and written to port.txt.
  vanto-demo-server.py --root site --port 0 --port-file port.txt

  # Write site/vanto/newvanto.ini first (UTF-16 with BOM, readable by the Windows INI service);
  # "{port}" in a value stands for the port the server listens on.
  vanto-demo-server.py --root site --port 0 --write-info vanto/newvanto.ini \\
      --ver 2.0 --server-dir 'http://127.0.0.1:{port}/vanto/' --exe-dir setup.exe

  # Answer 404 for the installer until told otherwise, and send every file over 3 seconds.
  vanto-demo-server.py --root site --port 0 --missing /vanto/setup.exe --slow 3

  # Send only the installer slowly.
  vanto-demo-server.py --root site --port 0 --slow 3 --slow-path /vanto/setup.exe

  # Announce the installer's whole length but close the connection after half of it.
  vanto-demo-server.py --root site --port 0 --truncate /vanto/setup.exe

  # Announce a length of 2 GiB for the installer, then send its real bytes and close.
  vanto-demo-server.py --root site --port 0 --announce-length /vanto/setup.exe=2147483648

  # Answer nothing for the installer until told to (see release below).
  vanto-demo-server.py --root site --port 0 --hold /vanto/setup.exe

Run-time control (only from the loopback interface, never logged as requests):
  GET /__control__/missing?path=/vanto/setup.exe   answer 404 for that path from now on
  GET /__control__/serve?path=/vanto/setup.exe     serve that path again
  GET /__control__/slow?seconds=2.5                spread each body over that many seconds
  GET /__control__/release?path=/vanto/setup.exe   answer the held requests for that path, and
                                                   every later one at once
  GET /__control__/quit                            stop the server

Every request line received is appended to the log file (--log) exactly as it arrived: bytes
outside ASCII are kept as they were sent, one line per request. With --header-log, the header
lines of each request follow in a file of their own, an empty line after each request.
"""

import argparse
import http.server
import mimetypes
import os
import posixpath
import socketserver
import sys
import threading
import time
import urllib.parse

CONTROL_PREFIX = "/__control__/"


class ServerState:
    """What can change while the server runs; shared by the request threads."""

    def __init__(self, root, missing, slow_seconds, slow_paths, truncated, log_path,
                 header_log_path=None, announced=None, held=()):
        self.header_log_path = header_log_path
        self.held = set(held)
        self.released = threading.Condition()
        self.announced = dict(announced or {})
        self.root = os.path.abspath(root)
        self.truncated = set(truncated)
        self.missing = set(missing)
        self.slow_seconds = slow_seconds
        self.slow_paths = set(slow_paths)
        self.log_path = log_path
        self.lock = threading.Lock()

    def log_request_line(self, raw_line):
        if not self.log_path:
            return
        with self.lock, open(self.log_path, "ab") as log:
            log.write(raw_line.rstrip(b"\r\n") + b"\n")

    def log_headers(self, headers):
        """The header lines of one request as they were parsed, then an empty line."""
        if not self.header_log_path:
            return
        lines = [f"{name}: {value}".encode("latin-1", errors="replace")
                 for name, value in headers.items()]
        with self.lock, open(self.header_log_path, "ab") as log:
            log.write(b"".join(line + b"\n" for line in lines) + b"\n")

    def is_missing(self, path):
        with self.lock:
            return path in self.missing

    def set_missing(self, path, missing):
        with self.lock:
            if missing:
                self.missing.add(path)
            else:
                self.missing.discard(path)

    def wait_until_released(self, path, seconds=300):
        """A held path answers nothing until it is released, or for `seconds` at most."""
        with self.released:
            self.released.wait_for(lambda: path not in self.held, timeout=seconds)

    def release(self, path):
        with self.released:
            self.held.discard(path)
            self.released.notify_all()

    def set_slow(self, seconds):
        with self.lock:
            self.slow_seconds = seconds

    def slowness(self, path):
        with self.lock:
            if self.slow_paths and path not in self.slow_paths:
                return 0.0
            return self.slow_seconds


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "vanto-demo-server/1.0"
    state = None  # set on the subclass made by make_server

    def parse_request(self):
        if not self.raw_requestline.startswith(b"GET " + CONTROL_PREFIX.encode()):
            self.state_of_server().log_request_line(self.raw_requestline)
        # A client that does not encode its target may send spaces (more than three words) and
        # bytes outside ASCII, some of which the base class would take for blanks: take
        # everything between the method and the version as the target, percent-encoded.
        words = self.raw_requestline.rstrip(b"\r\n").split(b" ")
        if len(words) >= 3 and words[-1].startswith(b"HTTP/"):
            target = urllib.parse.quote_from_bytes(b" ".join(words[1:-1]), safe="/?=&%:;,+@!$'()*~")
            self.raw_requestline = b" ".join([words[0], target.encode(), words[-1]]) + b"\r\n"
        parsed = super().parse_request()
        if parsed and not self.raw_requestline.startswith(b"GET " + CONTROL_PREFIX.encode()):
            self.state_of_server().log_headers(self.headers)
        return parsed

    def state_of_server(self):
        return self.server.vanto_state

    def log_message(self, format, *args):
        # The request log file is the record; keep the console quiet.
        pass

    def do_GET(self):
        self.close_connection = True
        split = urllib.parse.urlsplit(self.path)
        if split.path.startswith(CONTROL_PREFIX):
            self.control(split)
            return
        self.serve_file(split.path, send_body=True)

    def do_HEAD(self):
        self.close_connection = True
        self.serve_file(urllib.parse.urlsplit(self.path).path, send_body=False)

    def control(self, split):
        if self.client_address[0] != "127.0.0.1":
            self.send_error(403)
            return
        command = split.path[len(CONTROL_PREFIX):]
        query = urllib.parse.parse_qs(split.query)
        state = self.state_of_server()
        if command in ("missing", "serve") and "path" in query:
            state.set_missing(query["path"][0], command == "missing")
        elif command == "release" and "path" in query:
            state.release(query["path"][0])
        elif command == "slow" and "seconds" in query:
            state.set_slow(float(query["seconds"][0]))
        elif command == "quit":
            threading.Thread(target=self.server.shutdown, daemon=True).start()
        else:
            self.send_error(400, "Unknown control command")
            return
        self.send_plain(200, b"ok\n")

    def send_plain(self, code, body):
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def local_path(self, url_path):
        """The file under the root for a URL path, or None when it would leave the root."""
        # The request line was read as Latin-1: get its bytes back, then read them as UTF-8, so
        # that both percent-encoded and raw UTF-8 names find their file.
        raw = urllib.parse.unquote_to_bytes(url_path.encode("latin-1", errors="replace"))
        decoded = raw.decode("utf-8", errors="surrogateescape")
        normal = posixpath.normpath("/" + decoded.replace("\\", "/"))
        root = self.state_of_server().root
        candidate = os.path.abspath(os.path.join(root, normal.lstrip("/")))
        if candidate != root and not candidate.startswith(root + os.sep):
            return None
        return candidate

    def serve_file(self, url_path, send_body):
        state = self.state_of_server()
        state.wait_until_released(url_path)
        path = self.local_path(url_path)
        if state.is_missing(url_path) or path is None or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as source:
            body = source.read()
        self.send_response(200)
        content_type = mimetypes.guess_type(path)[0] or "application/octet-stream"
        self.send_header("Content-Type", content_type)
        announced = state.announced.get(url_path)
        if isinstance(announced, str):  # "+N": N more than the real size
            announced = len(body) + int(announced)
        self.send_header("Content-Length", str(len(body) if announced is None else announced))
        self.send_header("Connection", "close")
        self.end_headers()
        if send_body:
            # A truncated answer keeps its Content-Length and simply ends early.
            sent = body[:len(body) // 2] if url_path in state.truncated else body
            self.send_body(sent, state.slowness(url_path))

    def send_body(self, body, seconds):
        if seconds <= 0 or not body:
            self.wfile.write(body)
            return
        pieces = min(20, len(body))
        size = -(-len(body) // pieces)
        for start in range(0, len(body), size):
            time.sleep(seconds / pieces)
            self.wfile.write(body[start:start + size])
            self.wfile.flush()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def make_server(state, port):
    server = Server(("127.0.0.1", port), Handler)
    server.vanto_state = state
    return server


def write_info_file(path, args, port):
    """The information file in INI form, with the three sections vantoup reads."""
    sections = [
        ("VANTO_INFO", [("VER", args.ver), ("InfoFName", args.info_fname),
                        ("ServerDir", args.server_dir)]),
        ("VANTOK_INFO", [("Infotxt", args.infotxt)]),
        ("VANTO_INFO_PC", [("LocalAlias", args.local_alias), ("ExeDir", args.exe_dir),
                           ("ExeDirUp", args.exe_dir_up), ("ExeSig", args.exe_sig)]),
    ]
    lines = []
    for section, entries in sections:
        lines.append(f"[{section}]")
        for key, value in entries:
            if value is not None:
                lines.append(f"{key}={value.replace('{port}', str(port))}")
        lines.append("")
    text = "\r\n".join(lines)
    encoding = {"utf-16": "utf-16-le", "utf-8-sig": "utf-8", "cp949": "cp949", "ascii": "ascii"}
    data = text.encode(encoding[args.info_encoding])
    if args.info_encoding == "utf-16":
        data = b"\xff\xfe" + data
    elif args.info_encoding == "utf-8-sig":
        data = b"\xef\xbb\xbf" + data
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="\n\n".join(__doc__.split("\n\n")[1:]),
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", default=".", help="folder to serve (default: current folder)")
    parser.add_argument("--port", type=int, default=8080,
                        help="TCP port on 127.0.0.1; 0 picks a free one (default 8080)")
    parser.add_argument("--port-file", help="write the port to this file once listening")
    parser.add_argument("--log", help="append each request line received to this file")
    parser.add_argument("--header-log", metavar="FILE",
                        help="append the header lines of each request to this file, an empty "
                        "line after each request")
    parser.add_argument("--missing", action="append", default=[], metavar="PATH",
                        help="answer 404 for this URL path (repeatable), e.g. /vanto/setup.exe")
    parser.add_argument("--slow", type=float, default=0.0, metavar="SECONDS",
                        help="spread the sending of each file body over this many seconds")
    parser.add_argument("--slow-path", action="append", default=[], metavar="PATH",
                        help="send only this URL path slowly (repeatable; default: every file)")
    parser.add_argument("--truncate", action="append", default=[], metavar="PATH",
                        help="for this URL path, announce the whole length but send only the "
                        "first half and close (repeatable)")
    parser.add_argument("--hold", action="append", default=[], metavar="PATH",
                        help="for this URL path, send nothing until the release control command "
                        "names it (repeatable)")
    parser.add_argument("--announce-length", action="append", default=[], metavar="PATH=BYTES",
                        type=announced_length,
                        help="for this URL path, announce BYTES (+BYTES: that many more than its "
                        "size) as its Content-Length, send its bytes and close (repeatable)")

    info = parser.add_argument_group(
        "information file", "Write an information file under the root before serving; only the "
        "values given are written, and {port} in a value becomes the port listened on.")
    info.add_argument("--write-info", metavar="RELPATH",
                      help="path of the file under the root, e.g. vanto/newvanto.ini")
    info.add_argument("--info-encoding", default="utf-16",
                      choices=["utf-16", "utf-8-sig", "cp949", "ascii"],
                      help="encoding of the file (default utf-16 with BOM)")
    info.add_argument("--ver", help="[VANTO_INFO] VER, the server's version number")
    info.add_argument("--info-fname", help="[VANTO_INFO] InfoFName")
    info.add_argument("--server-dir", help="[VANTO_INFO] ServerDir, base URL of the installer")
    info.add_argument("--infotxt", help="[VANTOK_INFO] Infotxt")
    info.add_argument("--local-alias", help="[VANTO_INFO_PC] LocalAlias")
    info.add_argument("--exe-dir", help="[VANTO_INFO_PC] ExeDir, the installer's file name")
    info.add_argument("--exe-dir-up", help="[VANTO_INFO_PC] ExeDirUp")
    info.add_argument("--exe-sig", help="[VANTO_INFO_PC] ExeSig, the installer's signature "
                      "(base64, as tools/vanto-sign prints it)")
    return parser.parse_args(argv)


def announced_length(text):
    """PATH=BYTES, or PATH=+BYTES for that many more than the file's size."""
    path, _, length = text.rpartition("=")
    if not path.startswith("/") or not length.lstrip("+").isdigit():
        raise argparse.ArgumentTypeError(f"not PATH=BYTES or PATH=+BYTES: {text!r}")
    return path, length if length.startswith("+") else int(length)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    state = ServerState(args.root, args.missing, args.slow, args.slow_path, args.truncate,
                        args.log, args.header_log, dict(args.announce_length), args.hold)
    server = make_server(state, args.port)
    port = server.server_address[1]
    if args.write_info:
        write_info_file(os.path.join(args.root, args.write_info), args, port)
    if args.port_file:
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as out:
            out.write(f"{port}\n")
        os.replace(temporary, args.port_file)
    print(f"serving {state.root} on http://127.0.0.1:{port}/", flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
