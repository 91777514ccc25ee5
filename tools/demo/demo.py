#!/usr/bin/env python3
"""One run of vantoup.exe against the local demo server, under Xvfb and Wine, with a
report of what happened. scripts/demo builds the programs and calls this; run it through
scripts/demo.

Everything lives under build/demo/: the Wine prefix (prefix/), Wine's HOME (home/, which is also
the user's Documents folder), the served site (site/), the server's request log, and the
screenshots (shots/)."""

import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from harness import CaseFailure, Display, Probe, Wine, names_in, stop_process  # noqa: E402
import wine_layer  # noqa: E402  (on the path that harness sets)

PORT = 8080
CLIENT_MAIN = "TfrmClientMain"
UPMAIN = "TfrmUpmain"
DIALOG = "#32770"
STATE_DOWNLOADING = "업그레이드화일 다운로드중..."
STATE_DONE = "다운로드가 완료 되었습니다. 잠시만 기다려 주세요..."
SIGNATURE_REFUSED = "업그레이드화일의 서명이 올바르지 않습니다."
VERSION_TAG = "VANTO-DEMO-VERSION="
GLOSSES = {
    STATE_DOWNLOADING: "downloading the upgrade file...",
    STATE_DONE: "the download is complete, please wait a moment...",
    "업그레이드 준비중 입니다.": "preparing the upgrade",
    "프로그램의 정보가 없습니다.": "there is no information about the program",
    "업체에 문의 하여 주십시요": "please contact the vendor",
    SIGNATURE_REFUSED: "the upgrade file's signature is not valid",
}
RUN_TIMEOUT = 90  # seconds for the whole run of vantoup.exe


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="scripts/demo",
        description="Builds vantoup.exe and a demo installer, serves a newer version on "
        f"http://localhost:{PORT}/vanto/ (the program's built-in address), and runs vantoup.exe "
        "once in a Wine prefix under build/demo/ where version 1.5 is installed. Prints what was "
        "downloaded, what was opened, what became of vanto.exe, the exit code and the screenshots.",
        epilog="Build directories: build/win32 (the shipped i686 build, run under the WoW64 "
        "Wine 10 of scripts/wow64-root), or build/win64 with --x86_64 (under the host's Wine 8); the "
        "environment variables VANTO_DEMO_WIN32_DIR and VANTO_DEMO_WIN64_DIR choose others. With "
        "--signed: build/demo/win32-signed or win64-signed (the demo key built in) and build/linux "
        "(vanto-sign); the demo "
        "key pair is made once in build/demo/keys/.")
    parser.add_argument("--version-local", default="1.5", metavar="X",
                        help="the installed version, the registry's Ver (default 1.5)")
    parser.add_argument("--version-server", default="2.0", metavar="Y",
                        help="the version the server offers (default 2.0)")
    parser.add_argument("--fail-installer", action="store_true",
                        help="the server answers 404 for the installer; the error box is read, "
                        "confirmed and the window closed")
    parser.add_argument("--no-key", action="store_true",
                        help="no registry key at all: the 'no program information' message")
    parser.add_argument("--signed", action="store_true",
                        help="a build with the demo key built in; the served installer is signed "
                        "with the demo key's private half and its ExeSig is in the information file")
    parser.add_argument("--tamper", action="store_true",
                        help="with --signed: one byte of the served installer is changed after "
                        "signing; the refusal box is read, confirmed and the window closed")
    parser.add_argument("--keep", action="store_true",
                        help="leave the server, the display and the Wine prefix running for a look")
    parser.add_argument("--slow", type=float, default=5.0, metavar="SECONDS",
                        help="seconds the server takes to send the installer (default 5)")
    parser.add_argument("--docs", metavar="DIR",
                        help="also write the screenshots, cut to the windows, into DIR "
                        "(the README's pictures: docs); freezes the program for a moment to catch "
                        "the completion text")
    tools = parser.add_argument_group("programs (scripts/demo passes these)")
    tools.add_argument("--vantoup", help="vantoup.exe (the build the Wine in use runs)")
    tools.add_argument("--installer", help="vanto-demo-installer.exe")
    tools.add_argument("--probe", help="vanto-probe.exe")
    tools.add_argument("--hold", help="vanto-demo-hold.exe")
    tools.add_argument("--sign-tool", help="vanto-sign (Linux build), for --signed")
    tools.add_argument("--sign-key", help="the private key vanto-sign signs with, for --signed")
    tools.add_argument("--work", default=os.path.join(ROOT, "build", "demo"),
                       help="folder for everything the run makes (default build/demo)")
    args = parser.parse_args(argv)
    for name in ("version_local", "version_server"):
        if not re.fullmatch(r"[0-9]+(\.[0-9]+)?", getattr(args, name)):
            parser.error(f"--{name.replace('_', '-')}: a decimal number like 1.5, please")
    if args.tamper and not args.signed:
        parser.error("--tamper needs --signed (an unsigned build checks nothing to refuse)")
    programs = ["vantoup", "installer", "probe", "hold"]
    if args.signed:
        programs += ["sign_tool", "sign_key"]
    for name in programs:
        path = getattr(args, name)
        if not path or not os.path.isfile(path):
            parser.error(f"--{name.replace('_', '-')}: no such file {path!r} (run scripts/demo, "
                         "which builds it)")
    return args


def gloss(text):
    return " / ".join(f'"{line}" ({GLOSSES[line]})' if line in GLOSSES else f'"{line}"'
                      for line in re.split(r"[\r\n]+", text) if line)


def port_is_free(port):
    with socket.socket() as probe_socket:
        probe_socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe_socket.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def read_control_ids(header):
    with open(header, encoding="utf-8") as source:
        return {m.group(1): int(m.group(2))
                for m in re.finditer(r"\bk(\w+)Id\s*=\s*(\d+)", source.read())}


def read_text(path):
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as source:
        return source.read().decode("utf-8", errors="replace")


class Server:
    """tools/vanto-demo-server.py on 127.0.0.1:8080, sending the installer slowly."""

    def __init__(self, work, site, args, installer_name, exe_sig):
        self.log = os.path.join(work, "requests.log")
        port_file = os.path.join(work, "server.port")
        for path in (self.log, port_file):
            if os.path.exists(path):
                os.remove(path)
        installer_path = "/vanto/" + installer_name
        command = [sys.executable, os.path.join(ROOT, "tools", "vanto-demo-server.py"),
                   "--root", site, "--port", str(PORT), "--port-file", port_file,
                   "--log", self.log, "--slow", str(args.slow), "--slow-path", installer_path,
                   "--write-info", "vanto/newvanto.ini", "--ver", args.version_server,
                   "--info-fname", "newvanto.ini",
                   "--server-dir", f"http://localhost:{PORT}/vanto/",
                   "--infotxt", f"vanto {args.version_server}", "--local-alias", "vanto",
                   "--exe-dir", installer_name, "--exe-dir-up", installer_name]
        if args.fail_installer:
            command += ["--missing", installer_path]
        if exe_sig is not None:
            command += ["--exe-sig", exe_sig]
        self.output_path = os.path.join(work, "server.out")
        self.output = open(self.output_path, "wb")
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.output,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + 15
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise CaseFailure(f"the demo server did not start on port {PORT}:\n" +
                                  (read_text(self.output_path) or "").strip())
            time.sleep(0.05)

    def request_lines(self):
        text = read_text(self.log)
        return text.splitlines() if text else []

    def stop(self):
        stop_process(self.process)
        self.output.close()


class Demo:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.shots_dir = os.path.join(self.work, "shots")
        self.ids = read_control_ids(os.path.join(ROOT, "src", "app", "control_ids.h"))
        newer = float(args.version_server) > float(args.version_local)
        self.mode = ("no-key" if args.no_key else "no-upgrade" if not newer else
                     "fail-installer" if args.fail_installer else
                     "tamper" if args.tamper else "upgrade")
        # Screenshots of a signed run are told apart from the plain run's.
        self.shot_prefix = ("signed-" if args.signed and self.mode != "tamper" else "") + self.mode
        self.installer_name = f"vanto-setup-{args.version_server}.exe"
        self.server = self.display = self.wine = self.process = self.hold = None
        self.shots = []  # (what, path)
        self.window_rects = {}  # path -> rects of the windows it shows
        self.boxes = []  # texts of the boxes read
        self.states_seen = []
        self.installer_label = None
        self.box_over_upgrade = []  # for each box: was the upgrade window behind it
        self.exe_sig = None
        self.served_bytes = None  # the installer as signed
        self.tampered = None  # (offset, old byte, new byte)
        self.open_after_box = False
        self.upgrade_rect = None
        self.download_crop = None
        self.notes = []
        self.exit_code = None

    # Set-up ------------------------------------------------------------------------------------

    def prepare_site(self):
        site = os.path.join(self.work, "site")
        shutil.rmtree(site, ignore_errors=True)
        os.makedirs(os.path.join(site, "vanto"))
        served = os.path.join(site, "vanto", self.installer_name)
        shutil.copyfile(self.args.installer, served)
        with open(served, "ab") as out:
            out.write(f"\r\n{VERSION_TAG}{self.args.version_server}\r\n".encode("ascii"))
        if self.args.signed:
            self.sign(served)
        return site

    def sign(self, served):
        """Signs the served bytes, with the VER and ExeDir texts of the information file; --tamper
        then changes one byte in the middle of the program, as a man in the middle would."""
        result = subprocess.run([self.args.sign_tool, "--key", self.args.sign_key, "--version",
                                 self.args.version_server, "--exe-dir", self.installer_name,
                                 served], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        line = result.stdout.decode("ascii", "replace").strip()
        if result.returncode != 0 or not line.startswith("ExeSig="):
            raise CaseFailure("vanto-sign failed: " +
                              (result.stderr.decode("utf-8", "replace").strip() or line))
        self.exe_sig = line[len("ExeSig="):]
        with open(served, "rb") as source:
            self.served_bytes = source.read()
        if self.args.tamper:
            offset = len(self.served_bytes) // 2
            old = self.served_bytes[offset]
            with open(served, "r+b") as out:
                out.seek(offset)
                out.write(bytes([old ^ 0xFF]))
            self.tampered = (offset, old, old ^ 0xFF)

    def start(self):
        os.makedirs(self.work, exist_ok=True)
        shutil.rmtree(self.shots_dir, ignore_errors=True)
        os.makedirs(self.shots_dir)
        shutil.rmtree(os.path.join(self.work, "tmp"), ignore_errors=True)
        print(f"* demo server on http://127.0.0.1:{PORT}/ (offers version "
              f"{self.args.version_server}"
              f"{', installer answered with 404' if self.args.fail_installer else ''}"
              f"{', signed' if self.args.signed else ''}"
              f"{', one byte changed after signing' if self.args.tamper else ''})",
              flush=True)
        site = self.prepare_site()
        self.server = Server(self.work, site, self.args, self.installer_name, self.exe_sig)
        print("* Xvfb and the Wine prefix build/demo/prefix (the first time takes a minute)",
              flush=True)
        self.display = Display(os.path.join(self.work, "xvfb.log"))
        self.wine = Wine(self.work, self.display)
        self.probe = Probe(self.wine, self.args.probe)
        self.vanto_dir = os.path.join(self.wine.program_files(self.args.probe), "vanto")
        self.temp_dir = os.path.join(self.wine.documents, "vanto", "Temp")
        shutil.rmtree(self.vanto_dir, ignore_errors=True)
        os.makedirs(self.vanto_dir)
        with open(os.path.join(self.vanto_dir, "vanto.exe"), "wb") as out:
            out.write(f"vanto {self.args.version_local}\r\n".encode("ascii"))
        shutil.rmtree(os.path.join(self.wine.documents, "vanto"), ignore_errors=True)
        # Only Ver: with no ServerDir the program uses its built-in http://localhost:8080/vanto/.
        self.wine.set_vanto_key(None if self.args.no_key else {"Ver": self.args.version_local})

    # The run -----------------------------------------------------------------------------------

    def shot(self, what, name, windows=()):
        path = os.path.join(self.shots_dir, f"{self.shot_prefix}-{name}.png")
        self.display.screenshot(path)
        if os.path.exists(path):
            self.shots.append((what, path))
            self.window_rects[path] = [w["rect"] for w in windows]

    def label(self, window, name):
        for child in window["children"]:
            if child["id"] == self.ids[name]:
                return child["text"]
        return None

    def running(self):
        return self.process.poll() is None

    def start_hold(self):
        """Watches for the completion text, which lasts too short for a screenshot."""
        self.hold_out = os.path.join(self.wine.tmp, "hold.json")
        stale = [name for name in os.listdir(self.wine.tmp) if name.startswith("hold.json")]
        for name in stale:
            os.remove(os.path.join(self.wine.tmp, name))
        self.hold = self.wine.start([self.args.hold, self.hold_out, UPMAIN, STATE_DONE, "60000",
                                     "15000"], "hold")
        deadline = time.monotonic() + 30
        while not os.path.exists(self.hold_out + ".ready") and self.hold.poll() is None and \
                time.monotonic() < deadline:
            time.sleep(0.05)

    def hold_state(self, step, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            text = read_text(self.hold_out) or ""
            match = re.search(r'"step": (\d+), "held": (\w+), "visible": (\w+)', text)
            if match and int(match.group(1)) >= step:
                return match.group(2) == "true", match.group(3) == "true"
            if self.hold.poll() is not None and not match:
                break
            time.sleep(0.02)
        return False, False

    def crop(self, path, rect):
        left, top, right, bottom = rect
        result = subprocess.run(["convert", path, "-crop", f"{right - left}x{bottom - top}+"
                                 f"{left}+{top}", "+repage", "rgb:-"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        return result.stdout

    def check_hold(self):
        """Once the hold has frozen the window on the completion text, lets the program run a
        few milliseconds at a time until the text is on screen, and takes the screenshot."""
        if not self.hold:
            return
        if not os.path.exists(self.hold_out):
            if not self.running():
                self.notes.append("the completion text was too short-lived to be caught")
                self.hold.kill()
                self.hold.wait()
                self.hold = None
            return
        if self.upgrade_rect is None:
            upgrade = [w for w in self.probe.dump() if w["class"] == UPMAIN]
            self.upgrade_rect = upgrade[0]["rect"] if upgrade else None
        reference = self.download_crop
        trial = os.path.join(self.shots_dir, "hold-trial.png")
        latest = trial + ".latest.png"  # the newest shot with the window on screen
        changed = False
        last_crop, unchanged = None, 0
        for step in range(120):
            held, visible = self.hold_state(step)
            if not held or not visible or self.upgrade_rect is None:
                break
            self.display.screenshot(trial)
            crop = self.crop(trial, self.upgrade_rect)
            shutil.copyfile(trial, latest)
            if reference is None:
                reference = crop
            changed = changed or crop != reference
            unchanged = unchanged + 1 if crop == last_crop else 0
            last_crop = crop
            # The text is painted piece by piece: wait until the window looks the same for a while.
            if changed and unchanged >= 3:
                break
            with open(f"{self.hold_out}.step{step + 1}", "w"):
                pass
        if changed and os.path.exists(latest):
            self.take_done_shot(latest)
        if not any(what.endswith("completion text") for what, _ in self.shots):
            self.notes.append("the completion text was too short-lived for a screenshot")
        with open(self.hold_out + ".release", "w"):
            pass
        try:
            self.hold.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.hold.kill()
            self.hold.wait()
        self.hold = None
        for name in os.listdir(self.shots_dir):
            if name.startswith("hold-trial"):
                os.remove(os.path.join(self.shots_dir, name))

    def take_done_shot(self, source):
        path = os.path.join(self.shots_dir, f"{self.shot_prefix}-done.png")
        shutil.copyfile(source, path)
        self.shots.append(("the upgrade window with the completion text", path))
        self.window_rects[path] = [self.upgrade_rect]
        if self.states_seen[-1:] != [STATE_DONE]:
            self.states_seen.append(STATE_DONE)

    def handle_box(self, dialog):
        texts = [c["text"] for c in dialog["children"] if c["class"].lower() == "static"]
        text = max(texts, key=len) if texts else ""
        self.boxes.append((dialog["caption"], text))
        behind = [w for w in self.probe.dump()
                  if w["visible"] and w["class"] in (UPMAIN, CLIENT_MAIN)]
        self.box_over_upgrade.append(any(w["class"] == UPMAIN for w in behind))
        self.shot("the box " + ("over the upgrade window" if behind else "(no window behind it)"),
                  "box", [dialog] + behind)
        self.probe.press_ok()
        self.probe.wait_gone(DIALOG, 5000)

    def drive(self):
        """Watches the run, takes the screenshots and answers boxes until vantoup.exe ends."""
        deadline = time.monotonic() + RUN_TIMEOUT
        shot_download = False
        while self.running():
            if time.monotonic() > deadline:
                raise CaseFailure(f"vantoup.exe still running after {RUN_TIMEOUT} s")
            self.check_hold()
            windows = [w for w in self.probe.dump() if w["visible"]]
            dialogs = [w for w in windows if w["class"] == DIALOG]
            if dialogs:
                self.handle_box(dialogs[0])
                continue
            upgrade = [w for w in windows if w["class"] == UPMAIN]
            first = [w for w in windows if w["class"] == CLIENT_MAIN]
            if upgrade:
                state = self.label(upgrade[0], "LblState")
                if state and (not self.states_seen or self.states_seen[-1] != state):
                    self.states_seen.append(state)
                if self.boxes:
                    # After an error the window stays open, idle: close it as a user would.
                    self.shot("the upgrade window after the box", "after-box")
                    self.open_after_box = True
                    self.probe.close(UPMAIN)
                elif state == STATE_DOWNLOADING and not shot_download:
                    self.installer_label = self.label(upgrade[0], "LblName")
                    self.upgrade_rect = upgrade[0]["rect"]
                    self.shot("the upgrade window during the download", "downloading", upgrade)
                    self.download_crop = self.crop(self.shots[-1][1], self.upgrade_rect)
                    shot_download = True
            elif first and self.boxes:
                self.shot("the first window after the box", "first-window", first)
                self.probe.close(CLIENT_MAIN)
            time.sleep(0.1)
        self.check_hold()
        self.exit_code = self.process.returncode

    def run(self):
        # The completion text stays on screen for milliseconds at most; catching it means
        # freezing the program, which now and then leaves Wine stuck at the program's end: only
        # for the README's pictures, where a stuck run is simply repeated.
        if self.args.docs and self.mode in ("upgrade", "no-upgrade"):
            self.start_hold()
        print(f"* running vantoup.exe (installed version "
              f"{'none: no registry key' if self.args.no_key else self.args.version_local})",
              flush=True)
        self.process = self.wine.start([self.args.vantoup], "vantoup")
        self.drive()
        if self.mode == "upgrade":
            marker = self.marker_path()
            deadline = time.monotonic() + 20
            while not os.path.exists(marker) and time.monotonic() < deadline:
                time.sleep(0.1)
        else:
            time.sleep(1.5)  # anything opened by the shell would show by now
        self.shot("the screen at the end", "end")

    def marker_path(self):
        return os.path.join(self.temp_dir, self.installer_name + ".ran")

    # The report --------------------------------------------------------------------------------

    def registry_ver(self):
        rc, output = self.wine.query_vanto_key()
        if rc != 0:
            return None
        match = re.search(r"^\s*Ver\s+REG_\w+\s+(.*?)\s*$", output.decode("utf-8", "replace"),
                          re.MULTILINE)
        return match.group(1) if match else ""

    def answer_to(self, request_line):
        """How the server answered, as far as its set-up tells."""
        words = request_line.split(" ")
        if len(words) != 3:
            return ""
        path = words[1]
        if self.args.fail_installer and path == "/vanto/" + self.installer_name:
            return "  -> 404 (--fail-installer)"
        local = os.path.join(self.work, "site", path.lstrip("/"))
        if os.path.isfile(local):
            return f"  -> 200, {os.path.getsize(local)} bytes (site/{path.lstrip('/')})"
        return "  -> 404"

    def report(self):
        args = self.args
        ok = True
        print("\n=== what happened " + "=" * 60)
        platform = wine_layer.current_platform()
        build = ("the i686 build, the one users get, under the WoW64 Wine 10 of "
                 "scripts/wow64-root" if platform.name == "i686" else
                 "the x86_64 build under the host's Wine 8")
        print(f"vantoup.exe: {build}" +
              (" with the demo key's public half built in" if args.signed else "") +
              f" ({os.path.relpath(args.vantoup, ROOT)})")
        if self.exe_sig:
            print(f"Installer signed with {os.path.relpath(args.sign_key, ROOT)} (the demo key, "
                  f"for demos only) over VER \"{args.version_server}\" and its "
                  f"{len(self.served_bytes)} served bytes: ExeSig={self.exe_sig}")
        if self.tampered:
            offset, old, new = self.tampered
            print(f"Tampered after signing: byte {offset} of the served installer changed from "
                  f"0x{old:02x} to 0x{new:02x}")
        print(f"\nRequests the demo server at http://localhost:{PORT}/ received "
              f"({os.path.relpath(self.server.log, ROOT)}):")
        for line in self.server.request_lines() or ["(none)"]:
            print(f"  {line}{self.answer_to(line)}")
        downloads = names_in(self.temp_dir)
        saved = os.path.join(self.temp_dir, self.installer_name)
        print(f"Download folder (Documents\\vanto\\Temp = {os.path.relpath(self.temp_dir, ROOT)}): "
              f"{', '.join(downloads) if downloads else '(empty)'}")
        if self.states_seen:
            print("Upgrade window texts seen: " +
                  ", then ".join(gloss(s) for s in self.states_seen))
        if self.installer_label:
            print(f"Installer name shown during the download: {self.installer_label}")
        for (caption, text), over in zip(self.boxes, self.box_over_upgrade):
            print(f"Box \"{caption}\" (upgrade): {gloss(text)}" +
                  (" over the upgrade window" if over else ""))
        if self.boxes and self.open_after_box:
            print("The upgrade window stayed open after the box; the demo closed it")
        saved_is_signed = False
        if self.served_bytes is not None and os.path.isfile(saved):
            with open(saved, "rb") as source:
                saved_is_signed = source.read() == self.served_bytes
            print("Saved installer: " + ("byte for byte the signed one" if saved_is_signed else
                                         "differs from the signed one"))

        marker = read_text(self.marker_path())
        refused = False
        if self.mode == "tamper":
            refused = [text for _, text in self.boxes] == [SIGNATURE_REFUSED] and \
                self.box_over_upgrade == [True] and self.open_after_box and \
                not os.path.exists(saved) and not marker
            print("\ninstaller refused: not saved, not started" if refused else
                  "\ninstaller NOT refused as expected: " +
                  ("saved in the download folder" if os.path.exists(saved) else
                   "started" if marker else "no signature box over an open upgrade window"))
        print("\nOpened: " + ("the installer " + self.installer_name + " ran:" if marker else
                              "nothing (no installer was started)"))
        for line in (marker or "").splitlines():
            print(f"  {line}")

        program = read_text(os.path.join(self.vanto_dir, "vanto.exe"))
        backup = read_text(os.path.join(self.vanto_dir, "vanto.OLD"))
        before = f"vanto {args.version_local}"
        print(f"\nvanto.exe before the run: \"{before}\"")
        if program is None:
            print("vanto.exe now: missing")
        else:
            print(f"vanto.exe now: \"{program.strip()}\"" +
                  (" (upgraded by the installer)" if program.strip() != before else
                   " (the same program, moved back)"))
        if backup is not None:
            print(f"vanto.OLD (the backup made at the start): \"{backup.strip()}\"")
        ver = self.registry_ver()
        print("Registry HKCU\\Software\\vanto Ver: " + ("(no key)" if ver is None else ver))
        print(f"Exit code of vantoup.exe: {self.exit_code}")

        print("\nScreenshots:")
        for what, path in self.shots:
            print(f"  {os.path.relpath(path, ROOT)}  {what}")
        for note in self.notes:
            print(f"Note: {note}")

        new = f"vanto {args.version_server}"
        if self.mode == "upgrade":
            ok = bool(marker) and program is not None and program.strip() == new and \
                ver == args.version_server and (saved_is_signed or not args.signed)
            verdict = ((f"upgraded from {args.version_local} to {args.version_server}" +
                        (", the signed installer accepted" if args.signed else "")) if ok else
                       "the upgrade did not complete")
        elif self.mode == "tamper":
            ok = refused and program is not None and program.strip() == before and \
                ver == args.version_local
            verdict = ("the changed installer was refused (\"" + SIGNATURE_REFUSED + "\"): not "
                       "saved, not started, vanto.exe restored" if ok else "unexpected result")
        elif self.mode == "no-upgrade":
            ok = not marker and program is not None and program.strip() == before
            verdict = ("already current: nothing downloaded but the information file, nothing "
                       "opened, vanto.exe restored" if ok else "unexpected result")
        elif self.mode == "fail-installer":
            ok = bool(self.boxes) and not marker and program is not None and \
                program.strip() == before
            verdict = ("the failed download was reported, nothing opened, vanto.exe restored"
                       if ok else "unexpected result")
        else:
            ok = bool(self.boxes) and program is not None and program.strip() == before
            verdict = ("no program information: the message was shown, nothing downloaded" if ok
                       else "unexpected result")
        ok = ok and self.exit_code == 0
        print(f"\nResult: {verdict}.")
        return ok

    def write_docs(self, folder):
        """Small copies of the screenshots, cut to the windows they show, for the README."""
        os.makedirs(folder, exist_ok=True)
        margin = 10
        for _, path in self.shots:
            rects = self.window_rects.get(path)
            if not rects:
                continue
            left = max(min(r[0] for r in rects) - margin, 0)
            top = max(min(r[1] for r in rects) - margin, 0)
            right = max(r[2] for r in rects) + margin
            bottom = max(r[3] for r in rects) + margin
            target = os.path.join(folder, "demo-" + os.path.basename(path))
            subprocess.run(["convert", path, "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                            "+repage", "-strip", "-colors", "64", target], check=True, timeout=60,
                           stdin=subprocess.DEVNULL)
            print(f"  docs: {os.path.relpath(target, ROOT)} ({os.path.getsize(target)} bytes)")

    # Tear-down ---------------------------------------------------------------------------------

    def stop(self, keep):
        for process in (self.hold, self.process):
            if process and process.poll() is None:
                process.kill()
                process.wait()
        if keep:
            print("\nLeft running (--keep):")
            if self.server:
                pid = self.server.process.pid
                print(f"  demo server  PID {pid}: kill {pid}")
            if self.display:
                pid = self.display.process.pid
                print(f"  Xvfb         PID {pid} on DISPLAY={self.display.name}: kill {pid}  (a look: "
                      f"import -display {self.display.name} -window root look.png)")
            if self.wine:
                server = wine_layer.current_platform().server
                inside = "scripts/wow64-root run " if server != wine_layer.HOST_WINE.server else ""
                print(f"  Wine         {inside}env WINEPREFIX={self.wine.prefix} {server} -k")
            return
        if self.wine:
            self.wine.stop()
        if self.server:
            self.server.stop()
        if self.display:
            self.display.stop()


def interrupt(signal_number, frame):
    raise KeyboardInterrupt


def main():
    # Stopped from outside, it still stops what it started.
    signal.signal(signal.SIGTERM, interrupt)
    args = parse_args(sys.argv[1:])
    if not port_is_free(PORT):
        print(f"scripts/demo: port {PORT} on 127.0.0.1 is busy: the demo server needs it, since "
              f"vantoup.exe's built-in address is http://localhost:{PORT}/vanto/. Stop what "
              f"listens there (ss -ltnp 'sport = :{PORT}' shows it) and try again.",
              file=sys.stderr)
        return 2
    demo = Demo(args)
    ok = False
    try:
        demo.start()
        demo.run()
        ok = demo.report()
        if args.docs:
            demo.write_docs(args.docs)
    except CaseFailure as failure:
        print(f"\nscripts/demo: {failure}", file=sys.stderr)
    except KeyboardInterrupt:
        print("\nscripts/demo: interrupted", file=sys.stderr)
    finally:
        demo.stop(args.keep)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
