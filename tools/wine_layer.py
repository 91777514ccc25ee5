#!/usr/bin/env python3
"""What every Windows run of ours needs from Wine, in one place: which Wine runs which build, a
prefix set up for our programs (Hangul fonts for the dialog fonts, Marlett, a virtual desktop),
an X display of its own, and a session whose background services write to a log file.

Two Wines: the host's Wine 8 runs the x86_64 build; inside the root of scripts/wow64-root, whose
Wine 10 is a new-WoW64 build, the loader runs the shipped i686 build as well. The root marks
itself with VANTO_IN_WOW64_ROOT=1.

As a command (the shell helpers in scripts/ are thin wrappers of it):
  wine_layer.py prefix                      make $WINEPREFIX ready
  wine_layer.py run PROGRAM [ARGS...]       make it ready and run PROGRAM under Wine
  wine_layer.py session-start|session-stop  the session of $WINEPREFIX, services logged to a file
  wine_layer.py runs-i686                   exit 0 when this Wine runs 32-bit Windows code on
                                            this machine, 10 (and why) when the kernel runs none;
                                            asks in a prefix of its own, deleted after
  wine_layer.py with-display PREFIX PROGRAM [ARGS...]
        PROGRAM on an X display and a virtual desktop of its own, in a fresh session of PREFIX;
        its output is copied through a file, since Wine's services hold on to the streams of
        the first Wine process of a session"""

import contextlib
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

FONT_FACES = ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "MS Sans Serif", "굴림체", "Gulim",
              "GulimChe")
HANGUL_FONT = "NanumGothic"
MARLETT = "/usr/share/wine/fonts/marlett.ttf"
DESKTOP_SIZE = "1024x768"


class Platform:
    """The Wine that runs one build: its loader and server, and the build it runs."""

    def __init__(self, name, loader, server):
        self.name = name
        self.loader = loader
        self.server = server


HOST_WINE = Platform("x86_64", "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver")
WOW64_WINE = Platform("i686", "/usr/lib/x86_64-linux-gnu/wine/wine",
                      "/usr/lib/x86_64-linux-gnu/wine/wineserver")


def current_platform():
    return WOW64_WINE if os.environ.get("VANTO_IN_WOW64_ROOT") == "1" else HOST_WINE


def wine_env(prefix, base=None):
    """The environment of a Wine process in `prefix`."""
    env = dict(os.environ if base is None else base)
    platform = current_platform()
    env.update({"WINEPREFIX": prefix, "WINELOADER": platform.loader,
                "WINEDEBUG": env.get("WINEDEBUG", "-all"),
                "WINEDLLOVERRIDES": env.get("WINEDLLOVERRIDES", "mscoree,mshtml=")})
    return env


def services_log(prefix):
    return os.path.join(prefix, "wine-services.log")


def _wine_quietly(env, args, timeout=300):
    """A Wine command whose output, and that of any services it starts, goes to the log."""
    with open(services_log(env["WINEPREFIX"]), "ab") as log:
        return subprocess.run([current_platform().loader] + args, env=env, stdin=subprocess.DEVNULL,
                              stdout=log, stderr=log, timeout=timeout, check=False).returncode


def _server(env, *args, timeout=60):
    subprocess.run([current_platform().server] + list(args), env=env, timeout=timeout,
                   check=False)


# Bump when the boot below changes, so that no prefix is a copy of one booted the old way.
TEMPLATE_RECIPE = 1
TEMPLATES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build",
                         "wine-prefix-templates")


def _whole(prefix):
    """Whether Wine made the prefix whole: a WoW64 Wine on a kernel without 32-bit code makes one
    without its 32-bit half, which no machine could use later."""
    system = os.path.join(prefix, "drive_c", "windows")
    halves = ["system32"] + (["syswow64"] if current_platform() is WOW64_WINE else [])
    return all(os.path.isfile(os.path.join(system, half, "kernel32.dll")) for half in halves)


def _template(env):
    """Where a booted prefix of this Wine is kept, to be copied: booting one takes 20 s here and
    minutes on the emulated machine, and every suite makes several."""
    version = subprocess.run([current_platform().loader, "--version"], env=env, check=True,
                             capture_output=True, text=True, timeout=60).stdout.strip()
    name = f"{current_platform().name}-{version}-{TEMPLATE_RECIPE}"
    return os.path.join(TEMPLATES, re.sub(r"[^\w.+~-]+", "-", name))


def _boot(env, prefix):
    """A booted prefix with the Hangul font standing in for the dialog fonts: a copy of the
    template when there is one, else booted here and kept as the template when it is whole."""
    template = _template(env)
    os.makedirs(TEMPLATES, exist_ok=True)
    with open(template + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isdir(template):
            # Over a boot that was cut short, nothing of it may stay; and the prefix is ready only
            # once the whole copy is there.
            shutil.rmtree(prefix)
            subprocess.run(["cp", "-a", template, prefix], check=True)
            open(os.path.join(prefix, ".vanto-ready"), "w").close()
            return
        # Minutes on the emulated machine, where 32-bit code runs on kernels that run none.
        _wine_quietly(env, ["wineboot", "-i"], timeout=1200)
        for face in FONT_FACES:
            _wine_quietly(env, ["reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v",
                                face, "/t", "REG_SZ", "/d", HANGUL_FONT, "/f"])
        _server(env, "-w")
        if _whole(prefix):
            shutil.rmtree(template + ".new", ignore_errors=True)
            subprocess.run(["cp", "-a", prefix, template + ".new"], check=True)
            with contextlib.suppress(FileNotFoundError):
                os.remove(services_log(template + ".new"))  # the log of that prefix's sessions
            os.rename(template + ".new", template)
        open(os.path.join(prefix, ".vanto-ready"), "w").close()


def prepare_prefix(prefix, desktop=False, env=None):
    """Boots the prefix once, with Marlett for the title-bar buttons; `desktop` puts every window
    on one virtual desktop, since without a window manager Wine waits for each top-level window
    to be mapped. Safe to call again and from several processes at once."""
    env = wine_env(prefix, env)
    os.makedirs(prefix, exist_ok=True)
    with open(prefix.rstrip("/") + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(prefix, ".vanto-ready")):
            _boot(env, prefix)
        fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
        if os.path.isfile(MARLETT) and not os.path.isfile(os.path.join(fonts, "marlett.ttf")):
            os.makedirs(fonts, exist_ok=True)
            shutil.copy(MARLETT, fonts)
        marker = os.path.join(prefix, ".vanto-desktop")
        if desktop and not os.path.exists(marker):
            _wine_quietly(env, ["reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop",
                                "/t", "REG_SZ", "/d", "Default", "/f"])
            _wine_quietly(env, ["reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v",
                                "Default", "/t", "REG_SZ", "/d", DESKTOP_SIZE, "/f"])
            # The desktop is made by the first program of a session: end the one that wrote it.
            _server(env, "-k")
            _server(env, "-w")
            open(marker, "w").close()
    return env


def start_session(env):
    """A session kept alive, its services started by a program of ours with their output in the
    log, so that no later program's output pipe is held open by them."""
    if subprocess.run([current_platform().server, "-p"], env=env, timeout=30,
                      check=False).returncode != 0:
        # A server of this prefix left running by an interrupted run: ours to end.
        stop_session(env, hard=True)
        subprocess.run([current_platform().server, "-p"], env=env, timeout=30, check=True)
    _wine_quietly(env, ["cmd", "/c", "exit"], timeout=120)


def stop_session(env, hard=False):
    """`hard` ends a server that no longer answers: its signal handlers only run in its main loop,
    so a server caught in a loop of its own outlives anything but SIGKILL; its programs (the
    services, the desktop, ours) then wait for it for good, so they are ended too."""
    _server(env, "-k9" if hard else "-k")
    _server(env, "-w")
    if hard:
        for pid in _prefix_pids(env["WINEPREFIX"], "wine"):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:  # ended meanwhile
                pass


def _prefix_pids(prefix, program):
    """The processes of `prefix` whose executable's name starts with `program` ("wineserver", or
    "wine" for the server and every Windows program of the prefix)."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if not os.path.basename(os.readlink(f"/proc/{entry}/exe")).startswith(program):
                continue
            with open(f"/proc/{entry}/environ", "rb") as environ:
                if ("WINEPREFIX=" + prefix).encode() in environ.read().split(b"\0"):
                    pids.append(int(entry))
        except OSError:
            continue
    return pids


def _cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def server_loops(prefix, seconds=2.0):
    """True when the prefix's server keeps a core busy while none of our programs runs: a server
    caught in a loop of its own (WoW64 Wine 10's, in some window searches), and then nothing of
    the prefix answers."""
    try:
        before = {pid: _cpu_seconds(pid) for pid in _prefix_pids(prefix, "wineserver")}
        time.sleep(seconds)
        return any(_cpu_seconds(pid) - used > 0.7 * seconds for pid, used in before.items())
    except OSError:  # the server ended meanwhile
        return False


def runs_i686(env):
    """Whether 32-bit Windows code runs here. New WoW64 switches a 64-bit process into 32-bit
    code, which needs the kernel's 32-bit code segment: kernels that turn IA-32 emulation off
    (some virtual machines do, whatever their configuration says) fault on the first 32-bit
    instruction. Wine's own 32-bit cmd.exe tells, in about a second. Only that fault says no:
    whatever else goes wrong, the i686 suites run and tell the truth themselves."""
    cmd32 = os.path.join(os.path.dirname(WOW64_WINE.loader), "i386-windows", "cmd.exe")
    try:
        status = _wine_quietly(env, [cmd32, "/c", "exit", "7"], timeout=120)
    except subprocess.TimeoutExpired:
        status = "no end within 120 s"
    finally:
        stop_session(env)
    if status not in (7, -signal.SIGSEGV):
        print(f"wine_layer: note: Wine's 32-bit cmd.exe ended with {status}, not 7; taken as "
              f"running 32-bit code (see {services_log(env['WINEPREFIX'])})", file=sys.stderr)
    return status != -signal.SIGSEGV


def stop_process(process):
    """Ends a process we started: politely first, then for sure."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Display:
    """Xvfb on a display it picks itself (-displayfd), so parallel runs never collide."""

    def __init__(self, log_path):
        read_end, write_end = os.pipe()
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", DESKTOP_SIZE + "x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        with os.fdopen(read_end, "rb") as reader:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = reader.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not report a display number")
        self.name = ":" + number.decode().strip()

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.name, "-window", "root", path],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=20, check=False)

    def stop(self):
        stop_process(self.process)
        self.log.close()


def windows_to_unix(prefix, windows_path):
    """C:\\x\\y of the prefix as a Unix path (drive C only, where our programs live)."""
    drive, _, rest = windows_path.partition(":")
    if drive.upper() != "C":
        raise ValueError(f"not on drive C: {windows_path!r}")
    return os.path.join(prefix, "drive_c", *[p for p in rest.split("\\") if p])


def _with_display(prefix, program, args):
    prefix = os.path.realpath(prefix)
    env = prepare_prefix(prefix, desktop=True)
    work = tempfile.mkdtemp()
    display = Display(os.path.join(work, "xvfb.log"))
    try:
        env["DISPLAY"] = display.name
        # The desktop needs a session started with a display: start afresh, also after an
        # interrupted run.
        stop_session(env)
        output = os.path.join(work, "output")
        with open(output, "wb") as out:
            status = subprocess.run([current_platform().loader, program] + args, env=env,
                                    stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, check=False).returncode
        with open(output, "rb") as source:
            sys.stdout.buffer.write(source.read())
        return status
    finally:
        stop_session(env)
        display.stop()
        shutil.rmtree(work, ignore_errors=True)


def _runs_i686_status(env):
    """0: 32-bit code runs; 10: the kernel runs none (never 1, which is also a crash's status); 3:
    the question cannot be asked here."""
    if current_platform() is not WOW64_WINE:
        print("wine_layer: the host's Wine is no WoW64 build: ask inside scripts/wow64-root",
              file=sys.stderr)
        return 3
    if runs_i686(env):
        return 0
    print("wine_layer: this machine's kernel runs no 32-bit code, not even under WoW64 "
          "(`dmesg | grep -i ia-32` may say why)", file=sys.stderr)
    return 10


def main(argv):
    command = argv[0] if argv else ""
    prefix = os.environ.get("WINEPREFIX", "")
    if command == "with-display" and len(argv) >= 3:
        return _with_display(argv[1], argv[2], argv[3:])
    if command == "runs-i686" and len(argv) == 1:
        # Never in a prefix of the suites: on a kernel without 32-bit code, Wine makes a prefix
        # without its 32-bit half, which no later run on a machine that has one could use.
        scratch = tempfile.mkdtemp(prefix="vanto-runs-i686-")
        try:
            return _runs_i686_status(wine_env(scratch))
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
    if command not in ("prefix", "run", "session-start", "session-stop") or \
            not prefix or \
            (command == "run" and len(argv) < 2):
        print(__doc__, file=sys.stderr)
        return 2
    env = prepare_prefix(prefix)
    if command == "run":
        os.execve(current_platform().loader, [current_platform().loader] + argv[1:], env)
    if command == "session-start":
        start_session(env)
    if command == "session-stop":
        stop_session(env)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
