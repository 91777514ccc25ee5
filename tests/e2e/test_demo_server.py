#!/usr/bin/env python3
"""Checks of tools/vanto-demo-server.py over real loopback connections: what it answers, what it
logs, the information file it writes and its run-time switches."""

import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                      "vanto-demo-server.py")
INSTALLER = b"MZ stand-in installer \x00\xff" * 40
KOREAN = "새 버전 설치.exe"
KOREAN_ENCODED = b"/vanto/%EC%83%88%20%EB%B2%84%EC%A0%84%20%EC%84%A4%EC%B9%98.exe"


def exchange(port, request, pace=None):
    """Sends raw request bytes (one byte at a time with `pace`) and returns the whole reply."""
    with socket.create_connection(("127.0.0.1", port), timeout=20) as connection:
        if pace is None:
            connection.sendall(request)
        else:
            for i in range(len(request)):
                connection.sendall(request[i:i + 1])
                time.sleep(pace)
        reply = b""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                return reply
            reply += chunk


def split_reply(reply):
    head, _, body = reply.partition(b"\r\n\r\n")
    lines = head.split(b"\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(b":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers, body


class DemoServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.root = os.path.join(cls.folder.name, "site")
        os.makedirs(os.path.join(cls.root, "vanto"))
        for name in ("setup.exe", KOREAN, "gone.exe", "cut.exe", "big.exe", "held.exe"):
            with open(os.path.join(cls.root, "vanto", name), "wb") as out:
                out.write(INSTALLER)
        with open(os.path.join(cls.folder.name, "secret.txt"), "wb") as out:
            out.write(b"outside the root")
        cls.log = os.path.join(cls.folder.name, "requests.log")
        cls.header_log = os.path.join(cls.folder.name, "headers.log")
        port_file = os.path.join(cls.folder.name, "port.txt")
        cls.process = subprocess.Popen(
            [sys.executable, SERVER, "--root", cls.root, "--port", "0", "--port-file", port_file,
             "--log", cls.log, "--header-log", cls.header_log, "--missing", "/vanto/gone.exe", "--write-info",
             "vanto/newvanto.ini", "--ver", "2.0", "--server-dir",
             "http://127.0.0.1:{port}/vanto/", "--exe-dir", KOREAN, "--infotxt", "새 기능",
             "--exe-sig", "c2ln", "--slow-path", "/vanto/setup.exe", "--truncate",
             "/vanto/cut.exe", "--announce-length", "/vanto/big.exe=+4294967296", "--hold",
             "/vanto/held.exe"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while not os.path.exists(port_file) and time.monotonic() < deadline:
            time.sleep(0.05)
        with open(port_file) as source:
            cls.port = int(source.read())

    @classmethod
    def tearDownClass(cls):
        cls.process.terminate()
        cls.process.wait(timeout=10)
        cls.folder.cleanup()

    def logged(self):
        with open(self.log, "rb") as source:
            return source.read().splitlines()

    def control(self, command):
        reply = exchange(self.port, f"GET /__control__/{command} HTTP/1.1\r\n\r\n".encode())
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 "), reply[:60])

    def test_answers(self):
        # (request line, status line, body or None for "any")
        cases = [
            (b"GET /vanto/setup.exe HTTP/1.1", b"HTTP/1.1 200 OK", INSTALLER),
            (b"GET " + KOREAN_ENCODED + b" HTTP/1.1", b"HTTP/1.1 200 OK", INSTALLER),
            ("GET /vanto/새 버전 설치.exe HTTP/1.1".encode(), b"HTTP/1.1 200 OK", INSTALLER),
            (b"GET /vanto/setup.exe?x=1 HTTP/1.1", b"HTTP/1.1 200 OK", INSTALLER),
            (b"GET /vanto/??? ?? ??.exe HTTP/1.1", b"HTTP/1.1 404 Not Found", None),
            (b"GET /vanto/gone.exe HTTP/1.1", b"HTTP/1.1 404 Not Found", None),
            (b"GET /vanto/nothing.exe HTTP/1.1", b"HTTP/1.1 404 Not Found", None),
            (b"GET /vanto/ HTTP/1.1", b"HTTP/1.1 404 Not Found", None),
            (b"GET /../secret.txt HTTP/1.1", b"HTTP/1.1 404 Not Found", None),
            (b"GET /vanto/..%2F..%2Fsecret.txt HTTP/1.1", b"HTTP/1.1 404 Not Found", None),
        ]
        for pace in (None, 0.001):
            for request_line, status, body in cases:
                with self.subTest(request=request_line, pace=pace):
                    request = request_line + b"\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\n" \
                        b"Accept-Encoding: identity\r\n\r\n"
                    got_status, headers, got_body = split_reply(
                        exchange(self.port, request, pace))
                    self.assertEqual(got_status, status)
                    self.assertEqual(int(headers[b"content-length"]), len(got_body))
                    if body is not None:
                        self.assertEqual(got_body, body)
                    self.assertEqual(self.logged()[-1], request_line)

    def test_header_log_shows_each_request_s_headers(self):
        # (request, header lines logged): a line break that reaches the wire raw starts a header
        # of its own, one sent percent-encoded stays in the target.
        cases = [
            (b"GET /vanto/setup.exe HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n",
             [b"Host: 127.0.0.1", b"Accept: */*"]),
            (b"GET /va%0D%0AX-Injected:%201%0D%0Anto/x HTTP/1.1\r\nHost: h\r\n\r\n",
             [b"Host: h"]),
            (b"GET /va HTTP/1.1\r\nX-Injected: 1\r\nnto/x HTTP/1.1\r\nHost: h\r\n\r\n",
             None),
        ]
        for request, logged in cases:
            with self.subTest(request=request):
                size = os.path.getsize(self.header_log) if os.path.exists(self.header_log) else 0
                exchange(self.port, request)
                with open(self.header_log, "rb") as source:
                    source.seek(size)
                    lines = source.read().split(b"\n")
                self.assertEqual(lines[-2:], [b"", b""], "an empty line after each request")
                if logged is None:
                    self.assertIn(b"X-Injected: 1", lines)
                else:
                    self.assertEqual(lines[:-2], logged)

    def test_truncated_answer_announces_the_whole_length(self):
        # (path, announced length, bytes sent)
        for path, length, sent in (
                (b"/vanto/cut.exe", len(INSTALLER), INSTALLER[:len(INSTALLER) // 2]),
                (b"/vanto/big.exe", (1 << 32) + len(INSTALLER), INSTALLER)):
            with self.subTest(path=path):
                reply = exchange(self.port, b"GET " + path + b" HTTP/1.1\r\n\r\n")
                status, headers, body = split_reply(reply)
                self.assertEqual(status, b"HTTP/1.1 200 OK")
                self.assertEqual(int(headers[b"content-length"]), length)
                self.assertEqual(body, sent)

    def test_missing_switches_at_run_time(self):
        for command, status in (("serve?path=/vanto/setup.exe", b"HTTP/1.1 200 OK"),
                                ("missing?path=/vanto/setup.exe", b"HTTP/1.1 404 Not Found"),
                                ("serve?path=/vanto/setup.exe", b"HTTP/1.1 200 OK")):
            with self.subTest(command=command):
                before = len(self.logged())
                self.control(command)
                self.assertEqual(len(self.logged()), before, "control requests are not logged")
                reply = exchange(self.port, b"GET /vanto/setup.exe HTTP/1.1\r\n\r\n")
                self.assertEqual(split_reply(reply)[0], status)

    def test_slow_body_arrives_whole_and_late_on_its_path_only(self):
        self.control("slow?seconds=1")
        try:
            for path, slow in ((b"/vanto/setup.exe", True), (b"/vanto/newvanto.ini", False)):
                with self.subTest(path=path):
                    start = time.monotonic()
                    reply = exchange(self.port, b"GET " + path + b" HTTP/1.1\r\n\r\n")
                    elapsed = time.monotonic() - start
                    status, headers, body = split_reply(reply)
                    self.assertEqual(status, b"HTTP/1.1 200 OK")
                    self.assertEqual(int(headers[b"content-length"]), len(body))
                    self.assertEqual(elapsed > 0.8, slow, f"{elapsed:.2f} s")
        finally:
            self.control("slow?seconds=0")

    def test_held_answer_waits_for_its_release(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=20) as connection:
            connection.sendall(b"GET /vanto/held.exe HTTP/1.1\r\n\r\n")
            connection.settimeout(1)
            with self.assertRaises(socket.timeout, msg="answered before the release"):
                connection.recv(1)
            self.assertEqual(self.logged()[-1], b"GET /vanto/held.exe HTTP/1.1")
            self.control("release?path=/vanto/held.exe")
            connection.settimeout(20)
            reply = b""
            while chunk := connection.recv(65536):
                reply += chunk
        self.assertEqual(split_reply(reply)[::2], (b"HTTP/1.1 200 OK", INSTALLER))
        start = time.monotonic()
        reply = exchange(self.port, b"GET /vanto/held.exe HTTP/1.1\r\n\r\n")
        self.assertEqual(split_reply(reply)[0], b"HTTP/1.1 200 OK")
        self.assertLess(time.monotonic() - start, 1, "a released path is answered at once")

    def test_information_file(self):
        with open(os.path.join(self.root, "vanto", "newvanto.ini"), "rb") as source:
            data = source.read()
        self.assertTrue(data.startswith(b"\xff\xfe"), "UTF-16 with a byte-order mark")
        lines = data[2:].decode("utf-16-le").split("\r\n")
        self.assertEqual(lines, [
            "[VANTO_INFO]", "VER=2.0", f"ServerDir=http://127.0.0.1:{self.port}/vanto/", "",
            "[VANTOK_INFO]", "Infotxt=새 기능", "",
            "[VANTO_INFO_PC]", f"ExeDir={KOREAN}", "ExeSig=c2ln", "",
        ])


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=1).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
