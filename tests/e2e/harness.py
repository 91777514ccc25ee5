"""The pieces an end-to-end case needs: an X display, a Wine prefix of its own with a virtual
desktop, the probe, the registry, the files of the vanto installation, the download server and
the run of vantoup.exe itself. Everything started here is stopped here, by PID."""

import base64
import json
import os
import shutil
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "tools"))

import wine_layer  # noqa: E402
from wine_layer import Display, stop_process  # noqa: E402,F401 (the cases' and demo's names)

VANTO_KEY = r"HKEY_CURRENT_USER\Software\vanto"


class CaseFailure(Exception):
    pass


class WineHang(CaseFailure):
    """A Wine program of the harness (the probe, reg) did not end: Wine itself stopped answering,
    which says nothing of vantoup.exe."""


def check(condition, message):
    if not condition:
        raise CaseFailure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise CaseFailure(f"{what}: expected {expected!r}, got {actual!r}")


class Wine:
    """A prefix of the harness's own, its wineserver kept alive for the whole run."""

    def __init__(self, work, display):
        self.work = work
        self.prefix = os.path.join(work, "prefix")
        self.home = os.path.join(work, "home")
        self.platform = wine_layer.current_platform()
        os.makedirs(self.home, exist_ok=True)
        env = dict(os.environ)
        for name in ("LC_ALL", "LC_NUMERIC", "LANGUAGE"):
            env.pop(name, None)
        env.update({
            "HOME": self.home,
            "DISPLAY": display.name,
            # UTF-8 command lines and file names, and "." as the decimal separator, as the
            # version texts are written.
            "LANG": "C.UTF-8",
        })
        self.services_log = wine_layer.services_log(self.prefix)
        self.tmp = os.path.join(work, "tmp")
        os.makedirs(self.tmp, exist_ok=True)
        # Every program of the prefix on one virtual desktop: title bars are drawn, and
        # vantoup.exe runs directly, its exit code being the loader's.
        self.env = wine_layer.prepare_prefix(self.prefix, desktop=True, env=env)
        # The desktop is made by the first program of a session, on this run's display.
        wine_layer.stop_session(self.env)
        wine_layer.start_session(self.env)
        self._program_files = None

    def unix_path(self, *windows_parts):
        return os.path.join(self.prefix, "drive_c", *windows_parts)

    def program_files(self, probe_exe):
        """The program-files folder of a program built like the probe, as the prefix tells it:
        under WoW64 a 32-bit program's is "Program Files (x86)"."""
        if self._program_files is None:
            out = os.path.join(self.tmp, "program-files.json")
            if os.path.exists(out):
                os.remove(out)
            rc = self.run([probe_exe, out, "program-files"], name="probe")
            check(rc == 0 and os.path.exists(out), f"probe program-files failed ({rc:#x})")
            with open(out, encoding="utf-8") as source:
                windows_path = json.load(source)["folder"]
            self._program_files = wine_layer.windows_to_unix(self.prefix, windows_path)
        return self._program_files

    @property
    def user(self):
        """The name of the prefix's user, whose profile holds a Documents folder."""
        users = self.unix_path("users")
        for user in sorted(os.listdir(users)):
            if user != "Public" and os.path.isdir(os.path.join(users, user, "Documents")):
                return user
        raise CaseFailure(f"no user's Documents folder under {users}")

    @property
    def documents(self):
        """The user's Documents folder on the Unix side (the prefix links it to HOME)."""
        return os.path.realpath(self.unix_path("users", self.user, "Documents"))

    def start(self, args, name, env=None):
        """`env`: variables that this program gets besides the session's."""
        out = open(os.path.join(self.tmp, name + ".out"), "wb")
        err = open(os.path.join(self.tmp, name + ".err"), "wb")
        try:
            return subprocess.Popen([self.platform.loader] + args, env={**self.env, **(env or {})},
                                    stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)
        finally:
            out.close()
            err.close()

    def run(self, args, timeout=60, name="wine-run"):
        process = self.start(args, name)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise WineHang(f"wine {' '.join(args)} did not end in {timeout} s")

    def output_of(self, name):
        with open(os.path.join(self.tmp, name + ".out"), "rb") as out:
            return out.read()

    def error_of(self, name):
        with open(os.path.join(self.tmp, name + ".err"), "rb") as err:
            return err.read()

    def stop(self):
        wine_layer.stop_session(self.env)

    def hung(self):
        return wine_layer.server_loops(self.prefix)

    def restart(self):
        """A new session after a hang: the old server is ended for sure, with everything of it."""
        wine_layer.stop_session(self.env, hard=True)
        wine_layer.start_session(self.env)

    # Registry -------------------------------------------------------------------------------

    def set_vanto_key(self, values):
        """None removes the key; a dict gives its values: a str is REG_SZ, an int REG_DWORD and
        ("expand", text) REG_EXPAND_SZ. A text with control characters, which the quoted form
        cannot hold, is written as the bytes of the REG_SZ."""
        lines = ["Windows Registry Editor Version 5.00", "", f"[-{VANTO_KEY}]", ""]
        if values is not None:
            lines.append(f"[{VANTO_KEY}]")
            for name, value in values.items():
                if isinstance(value, int):
                    lines.append(f'"{name}"=dword:{value:08x}')
                elif isinstance(value, tuple) or any(ord(c) < 0x20 for c in value):
                    kind, text = value if isinstance(value, tuple) else ("sz", value)
                    data = (text + "\0").encode("utf-16-le")
                    code = 2 if kind == "expand" else 1
                    lines.append(f'"{name}"=hex({code}):' + ",".join(f"{b:02x}" for b in data))
                else:
                    escaped = value.replace("\\", "\\\\").replace('"', '\\"')
                    lines.append(f'"{name}"="{escaped}"')
        path = os.path.join(self.tmp, "vanto-key.reg")
        with open(path, "wb") as out:
            out.write(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
        # Wine's reg.exe now and then ends with 1 and no word under load, the file untouched:
        # the import is tried again before the case fails on it.
        for attempt in range(3):
            rc = self.run(["reg", "import", path], name="reg-import")
            if rc == 0:
                return
            time.sleep(0.5)
        check_equal(rc, 0, "reg import of the vanto key (%s)" %
                    (self.output_of("reg-import") + self.error_of("reg-import")).decode(
                        errors="replace").strip())

    def query_vanto_key(self):
        rc = self.run(["reg", "query", VANTO_KEY], name="reg-query")
        return rc, self.output_of("reg-query")


class Probe:
    def __init__(self, wine, exe):
        self.wine = wine
        self.exe = exe
        self.count = 0

    def _out(self):
        self.count += 1
        return os.path.join(self.wine.tmp, f"probe-{self.count}.json")

    def call(self, *args, timeout=60):
        out = self._out()
        if os.path.exists(out):
            os.remove(out)
        rc = self.wine.run([self.exe, out] + list(args), timeout=timeout, name="probe")
        result = None
        if os.path.exists(out):
            with open(out, encoding="utf-8") as source:
                result = json.load(source)
        return rc, result

    def wait(self, window_class, caption=None, timeout_ms=15000):
        args = [window_class] + ([caption] if caption is not None else []) + [str(timeout_ms)]
        rc, result = self.call("wait", *args, timeout=timeout_ms / 1000 + 30)
        return result["window"] if rc == 0 and result else None

    def wait_gone(self, window_class, timeout_ms=15000):
        rc, _ = self.call("wait-gone", window_class, str(timeout_ms),
                          timeout=timeout_ms / 1000 + 30)
        return rc == 0

    def failure_detail(self, rc):
        with open(os.path.join(self.wine.tmp, "probe.err"), "rb") as err:
            tail = err.read()[-400:].decode("utf-8", "replace").strip()
        return f"exit code {rc:#x}" + (f", {tail}" if tail else "")

    def dump(self):
        # Windows come and go while they are listed; a listing that failed is taken once more.
        for attempt in (1, 2):
            rc, result = self.call("dump")
            if rc == 0 and result is not None:
                return result["windows"]
            detail = self.failure_detail(rc)
            if attempt == 1:
                print(f"  note: probe dump failed ({detail}); once more", flush=True)
        raise CaseFailure(f"probe dump failed ({detail})")

    def workarea(self):
        rc, result = self.call("workarea")
        check(rc == 0 and result is not None, "probe workarea failed")
        return result["workarea"]

    def key(self, window_class, key):
        rc, result = self.call("key", window_class, key)
        check(rc == 0, f"probe could not send {key} to {window_class}")
        return result

    def type(self, key):
        rc, result = self.call("type", key)
        check(rc == 0, f"probe could not type {key}")
        return result

    def close(self, window_class):
        rc, _ = self.call("close", window_class)
        check(rc == 0, f"probe found no {window_class} to close")

    def press_ok(self, timeout_ms=15000):
        rc, result = self.call("press-ok", str(timeout_ms), timeout=timeout_ms / 1000 + 30)
        check(rc == 0 and result is not None, "no dialog box to confirm")
        return result["dialog"]

    def start_watch(self, classes, timeout_ms=120000):
        return Watch(self, classes, timeout_ms)

    def hold_file(self, path, timeout_ms=120000):
        return FileHold(self, path, timeout_ms)


def end_by_file(process, signal_file, what):
    """Makes the file that a background probe waits for, and waits for it to end."""
    with open(signal_file, "w"):
        pass
    try:
        process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise CaseFailure(f"{what} did not stop")


class Watch:
    """The probe recording every state of some windows in the background. It returns once the
    probe's hook is set: from then on, no state of a window of a named class can be missed, so a
    program started afterwards is watched whole."""

    def __init__(self, probe, classes, timeout_ms):
        self.out = probe._out()
        self.stop_file = self.out + ".stop"
        ready = self.out + ".ready"
        for path in (self.out, self.stop_file, ready):
            if os.path.exists(path):
                os.remove(path)
        self.process = probe.wine.start(
            [probe.exe, self.out, "watch", self.stop_file, str(timeout_ms)] + list(classes),
            "watch")
        deadline = time.monotonic() + 30
        while not os.path.exists(ready) and self.process.poll() is None and \
                time.monotonic() < deadline:
            time.sleep(0.02)
        if not os.path.exists(ready):
            running = self.process.poll() is None
            self.kill()
            if running:
                raise WineHang("the window watcher neither set its hook nor ended in 30 s")
            raise CaseFailure(f"the window watcher could not set its hook "
                              f"(exit code {self.process.returncode})")

    def finish(self):
        end_by_file(self.process, self.stop_file, "the window watcher")
        with open(self.out, encoding="utf-8") as source:
            result = json.load(source)
        self.polls, self.ms = result["polls"], result["ms"]
        if result["gave_up"]:
            raise CaseFailure(f"the watcher fell behind: {result['gave_up']} change(s) of a "
                              "watched window went on before it had seen them")
        return result["states"]

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class FileHold:
    """The probe keeping a file open without sharing in the background, until `release`."""

    def __init__(self, probe, path, timeout_ms):
        out = probe._out()
        self.release_file = out + ".release"
        for stale in (out, self.release_file):
            if os.path.exists(stale):
                os.remove(stale)
        self.process = probe.wine.start(
            [probe.exe, out, "hold-file", "Z:" + os.path.abspath(path).replace("/", "\\"),
             "Z:" + self.release_file.replace("/", "\\"), str(timeout_ms)], "hold-file")
        deadline = time.monotonic() + 30
        while not os.path.exists(out) and self.process.poll() is None and \
                time.monotonic() < deadline:
            time.sleep(0.05)
        if not os.path.exists(out) or self.process.poll() not in (None, 0):
            self.release()
            raise CaseFailure(f"the probe could not hold {path} open")

    def release(self):
        end_by_file(self.process, self.release_file, "the file hold")


class DemoServer:
    """tools/vanto-demo-server.py on an ephemeral loopback port."""

    def __init__(self, script, root, log_dir, extra_args=()):
        self.root = root
        self.log = os.path.join(log_dir, "requests.log")
        self.header_log = os.path.join(log_dir, "headers.log")
        port_file = os.path.join(log_dir, "port.txt")
        for path in (self.log, self.header_log, port_file):
            if os.path.exists(path):
                os.remove(path)
        self.output = open(os.path.join(log_dir, "server.out"), "wb")
        self.process = subprocess.Popen(
            [sys.executable, script, "--root", root, "--port", "0", "--port-file", port_file,
             "--log", self.log, "--header-log", self.header_log] + list(extra_args),
            stdin=subprocess.DEVNULL, stdout=self.output, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 15
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise CaseFailure("the demo server did not start")
            time.sleep(0.05)
        with open(port_file) as source:
            self.port = int(source.read().strip())
        self.base = f"http://127.0.0.1:{self.port}/"

    def control(self, command):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as connection:
            connection.sendall(f"GET /__control__/{command} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
            reply = b""
            while True:
                chunk = connection.recv(4096)
                if not chunk:
                    break
                reply += chunk
        check(reply.startswith(b"HTTP/1.1 200"), f"server control {command} failed")

    def request_lines(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, "rb") as source:
            return source.read().splitlines()

    def header_blocks(self):
        """The header lines of each request, a list per request."""
        if not os.path.exists(self.header_log):
            return []
        with open(self.header_log, "rb") as source:
            blocks = source.read().split(b"\n\n")
        return [block.split(b"\n") for block in blocks if block]

    def stop(self):
        stop_process(self.process)
        self.output.close()


def refused_port():
    """A loopback port that nothing listens on."""
    with socket.socket() as probe_socket:
        probe_socket.bind(("127.0.0.1", 0))
        return probe_socket.getsockname()[1]


def reset_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path, exist_ok=True)


def names_in(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def sign_installer(private_key, version_text, exe_dir, installer_bytes):
    """The ExeSig text for an installer announced with `version_text` and saved as `exe_dir`:
    base64 of r || s of an ECDSA P-256 / SHA-256 signature, made with the openssl command line.
    With `exe_dir` None, over the earlier message, which bound no ExeDir."""
    if exe_dir is None:
        head = b"vanto-update-v1\n" + version_text.encode("utf-8") + b"\n"
    else:
        head = b"vanto-update-v2\n" + version_text.encode("utf-8") + b"\n" + \
            exe_dir.encode("utf-8") + b"\n"
    message = head + installer_bytes
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", private_key], input=message,
                         stdout=subprocess.PIPE, check=True, timeout=30).stdout
    # SEQUENCE { INTEGER r, INTEGER s }, each integer big-endian with a possible leading zero.
    check(der[0] == 0x30 and der[2] == 0x02, "openssl gave no DER signature")
    r_length = der[3]
    r = der[4:4 + r_length]
    s_start = 4 + r_length
    check(der[s_start] == 0x02, "openssl gave no DER signature")
    s = der[s_start + 2:s_start + 2 + der[s_start + 1]]
    raw = r.lstrip(b"\0").rjust(32, b"\0") + s.lstrip(b"\0").rjust(32, b"\0")
    return base64.b64encode(raw).decode("ascii")
