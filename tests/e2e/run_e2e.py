#!/usr/bin/env python3
"""End-to-end runs of the real vantoup.exe under Wine on a private Xvfb display.

Each case prepares the registry key, the installed vanto.exe and the download folder, starts the
download server when it needs one, runs vantoup.exe, watches and drives its windows with the probe,
takes a screenshot of every state into the work folder and checks the exit code and the files.
Ends with the line "N passed, M failed"."""

import argparse
import json
import os
import re
import shutil
import sys
import time
import traceback

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import (CaseFailure, DemoServer, Display, Probe, Wine, check, check_equal, names_in,
                     refused_port, reset_folder, sign_installer)

CLIENT_MAIN = "TfrmClientMain"
UPMAIN = "TfrmUpmain"
DIALOG = "#32770"
APPLICATION = "VantoupApplication"
TITLE = "업그레이드"
CLIENT_MAIN_CAPTION = "자동 업그레이드"
UPMAIN_CAPTION = " 자동업그레이드"
NO_INFO_LINES = ["프로그램의 정보가 없습니다.", "", "업체에 문의 하여 주십시요"]
STATE_READY = "업그레이드 준비중 입니다."
STATE_DOWNLOADING = "업그레이드화일 다운로드중..."
STATE_DONE = "다운로드가 완료 되었습니다. 잠시만 기다려 주세요..."
# Controls of fixed size, relative to the client area; btnUp lies below it on purpose.
FIRST_WINDOW_LAYOUT = {"Panel1": (0, 0, 342, 75), "PrgBar": (7, 30, 335, 46),
                       "BtnUp": (135, 85, 211, 110)}
UPGRADE_WINDOW_LAYOUT = {"Panel1": (0, 0, 341, 66), "LblState": (7, 12, 337, 24),
                         "PrgBar": (7, 30, 335, 46), "BtnUp": (135, 85, 211, 110)}
INSTALLER = "vanto-setup.exe"
DUMMY_VANTO = b"the installed vanto program\n"
RUN_TIMEOUT = 60


class Run:
    """What one case shares: the environment and the paths of the vanto files in the prefix."""

    def __init__(self, args, display, wine, probe, ids):
        self.args = args
        self.display = display
        self.wine = wine
        self.probe = probe
        self.ids = ids
        self.vanto_dir = wine.unix_path("Program Files", "vanto")
        self.temp_dir = os.path.join(wine.documents, "vanto", "Temp")
        self.case = None
        self.process = None
        self.server = None
        self.watch = None

    # Set-up --------------------------------------------------------------------------------

    def begin(self, case):
        self.case = case
        reset_folder(self.vanto_dir)
        with open(os.path.join(self.vanto_dir, "vanto.exe"), "wb") as out:
            out.write(DUMMY_VANTO)
        shutil.rmtree(os.path.join(self.wine.documents, "vanto"), ignore_errors=True)

    def serve(self, ver, exe_dir=INSTALLER, extra_args=(), installer_dir="vanto",
              signature="valid"):
        """Starts the server with the information file in /vanto/ naming the installer in
        /<installer_dir>/; returns the base URL of the information file. With a signing key the
        information file carries the installer's signature; `signature` spoils it on purpose:
        "tampered" (one byte of the served installer flipped after signing), "other-version"
        (signed for another VER text) or "missing" (no ExeSig entry)."""
        root = os.path.join(self.args.work, "site-" + self.case)
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(os.path.join(root, "vanto"))
        os.makedirs(os.path.join(root, installer_dir), exist_ok=True)
        with open(self.args.installer, "rb") as source:
            installer = source.read()
        info = ["--write-info", "vanto/newvanto.ini", "--ver", ver, "--info-fname", "newvanto.ini",
                "--server-dir", "http://127.0.0.1:{port}/" + installer_dir + "/",
                "--infotxt", "e2e", "--local-alias", "vanto", "--exe-dir", exe_dir,
                "--exe-dir-up", exe_dir]
        if self.args.signing_key and signature != "missing":
            signed_version = ver + ".1" if signature == "other-version" else ver
            info += ["--exe-sig", sign_installer(self.args.signing_key, signed_version, installer)]
        if signature == "tampered":
            middle = len(installer) // 2
            installer = installer[:middle] + bytes([installer[middle] ^ 0x01]) + \
                installer[middle + 1:]
        with open(os.path.join(root, installer_dir, exe_dir), "wb") as out:
            out.write(installer)
        self.server = DemoServer(self.args.server, root, self.args.work, info + list(extra_args))
        return self.server.base + "vanto/"

    def start(self, watch_classes=(CLIENT_MAIN, UPMAIN, DIALOG), show=None):
        """Runs vantoup.exe in the background; with `show`, through the probe, which starts it
        with that show command in its start-up information and passes on its exit code."""
        self.watch = self.probe.start_watch(watch_classes)
        command = [self.args.vantoup]
        if show is not None:
            windows_path = "Z:" + os.path.abspath(self.args.vantoup).replace("/", "\\")
            command = [self.args.probe, os.path.join(self.wine.tmp, "start.json"), "start",
                       str(show), str(RUN_TIMEOUT * 1000), windows_path]
        self.process = self.wine.start(command, "vantoup-" + self.case)

    def box(self, state, missing):
        """The message or error box once it has settled: it must hold the keyboard, so that
        Enter confirms it. Its screenshot is taken as `state`."""
        check(self.probe.wait(DIALOG, timeout_ms=20000) is not None, missing)
        deadline = time.monotonic() + 5
        while True:
            dialogs = [w for w in self.probe.dump() if w["class"] == DIALOG and w["visible"]]
            check_equal(len(dialogs), 1, "boxes shown")
            dialog = dialogs[0]
            settled = dialog["foreground"] and focused_text(dialog) == "OK"
            if settled or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        self.shot(state)
        check(dialog["foreground"], "the box is not the foreground window")
        check_equal(focused_text(dialog), "OK", "text of the control with the focus")
        return dialog

    def wait_focus_on_button(self, window_class):
        """The window, once it is enabled with the focus on btnUp, as when it is activated."""
        return self.wait_window(
            window_class, lambda w: w["enabled"] and focused_id(w) == self.ids["BtnUp"],
            "the focus on btnUp", timeout=5)

    def shot(self, state):
        time.sleep(0.2)  # let the last paint reach the screen
        self.display.screenshot(os.path.join(self.args.work, f"{self.case}-{state}.png"))

    def wait_exit(self, timeout=RUN_TIMEOUT):
        deadline = time.monotonic() + timeout
        while self.process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        check(self.process.poll() is not None, f"vantoup.exe still running after {timeout} s")
        return self.process.returncode

    def states(self):
        """Every state the watcher saw, once the program has ended."""
        states = self.watch.finish()
        self.poll_rate = self.watch.polls * 1000 / max(self.watch.ms, 1)
        self.watch = None
        with open(os.path.join(self.args.work, f"{self.case}-states.json"), "w",
                  encoding="utf-8") as out:
            json.dump(states, out, ensure_ascii=False, indent=1)
        return states

    def end(self):
        if self.watch:
            self.watch.kill()
            self.watch = None
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.process = None
        if self.server:
            self.server.stop()
            self.server = None

    # Looking ---------------------------------------------------------------------------------

    def label(self, window, name):
        wanted = self.ids[name]
        for child in window["children"]:
            if child["id"] == wanted:
                return child["text"]
        raise CaseFailure(f"{window['class']} has no control {name} (id {wanted})")

    def wait_window(self, window_class, predicate, what, timeout=20):
        """The first visible window of that class for which `predicate` holds, polling dumps."""
        deadline = time.monotonic() + timeout
        last = None
        while time.monotonic() < deadline:
            for window in self.probe.dump():
                if window["class"] == window_class and window["visible"]:
                    last = window
                    if predicate(window):
                        return window
            check(self.process.poll() is None, f"vantoup.exe ended while waiting for {what}")
            time.sleep(0.1)
        raise CaseFailure(f"no {window_class} with {what} within {timeout} s (last: {last})")

    def label_sequence(self, states, name):
        """The successive texts of a label of the upgrade window, repeats folded; the window's
        last moments count too, when it is hidden on its way to destruction."""
        texts = []
        for window in (w for s in states for w in s["windows"] if w["class"] == UPMAIN):
            # A window being torn down loses its children one by one, and their texts.
            present = {c["id"] for c in window["children"]}
            if not all(self.ids[label] in present for label in ("LblState", "LblName", "LblCnt")):
                continue
            text = self.label(window, name)
            if not texts or texts[-1] != text:
                texts.append(text)
        return texts

    def check_state_texts(self, states, downloads):
        """lblState goes through its texts in order; "downloads" is whether it must show the
        download text. The completion text stands only for the moment between the end of the
        step and the end of the process, so it is required only when the watcher had the time
        to see the window after that."""
        texts = self.label_sequence(states, "LblState")
        if not texts:
            print(f"  note: {self.case}: the upgrade window was not caught at "
                  f"{self.poll_rate:.0f} polls/s", flush=True)
            return
        order = {STATE_READY: 0, STATE_DOWNLOADING: 1, STATE_DONE: 2}
        check(all(text in order for text in texts), f"texts of lblState: {texts}")
        check(STATE_DONE not in texts or texts.index(STATE_DONE) == len(texts) - 1,
              f"lblState left the completion text: {texts}")
        if downloads:
            check(STATE_DOWNLOADING in texts, f"texts of lblState without download: {texts}")
        else:
            check(STATE_DOWNLOADING not in texts, f"texts of lblState: {texts}")
        if texts[-1] != STATE_DONE:
            print(f"  note: {self.case}: completion text not caught at {self.poll_rate:.0f} "
                  f"polls/s; texts seen {texts}", flush=True)

    def check_upgrade_window_stays(self, states):
        """Once shown, the upgrade window stays visible until the program tears it down at its
        end: it may be hidden only on its way to destruction, never shown again after that."""
        seen = [(s["t"], w["visible"])
                for s in states for w in s["windows"] if w["class"] == UPMAIN]
        shown_at = next((i for i, (_, shown) in enumerate(seen) if shown), None)
        check(shown_at is not None, "the upgrade window was never visible")
        after = seen[shown_at:]
        hidden_at = next((i for i, (_, shown) in enumerate(after) if not shown), None)
        if hidden_at is None:
            return
        hidden_time = after[hidden_at][0]
        check(not any(shown for _, shown in after[hidden_at:]),
              f"the upgrade window was hidden at {hidden_time} ms and shown again")
        gone_time = next(s["t"] for s in states if s["t"] > hidden_time and
                         not any(w["class"] == UPMAIN for w in s["windows"]))
        check(gone_time - hidden_time < 1000,
              f"the upgrade window was hidden {gone_time - hidden_time} ms before it went away")

    def check_layout(self, window, expected):
        """Control rectangles relative to the client area: {name: (left, top, right, bottom)}."""
        x, y = window["client_origin"]
        by_id = {c["id"]: c["rect"] for c in window["children"]}
        actual = {}
        for name in expected:
            rect = by_id.get(self.ids[name])
            actual[name] = None if rect is None else (rect[0] - x, rect[1] - y, rect[2] - x,
                                                      rect[3] - y)
        check_equal(actual, expected, f"layout of {window['class']}")

    def vanto_files(self):
        return names_in(self.vanto_dir)

    def vanto_contents(self):
        """Every file of the vanto folder with its content."""
        contents = {}
        for name in names_in(self.vanto_dir):
            with open(os.path.join(self.vanto_dir, name), "rb") as source:
                contents[name] = source.read()
        return contents

    def put_vanto_files(self, contents):
        reset_folder(self.vanto_dir)
        for name, content in contents.items():
            with open(os.path.join(self.vanto_dir, name), "wb") as out:
                out.write(content)

    def check_centred(self, window):
        left, top, right, bottom = window["rect"]
        wa_left, wa_top, wa_right, wa_bottom = self.probe.workarea()
        expected_left = max((wa_right - wa_left - (right - left)) // 2, 0)
        expected_top = max((wa_bottom - wa_top - (bottom - top)) // 2, 0)
        check_equal((left, top), (expected_left, expected_top),
                    f"position of {window['class']} (centre of work area {wa_right}x{wa_bottom})")


def visible(states, window_class):
    """The snapshots in which a visible window of that class existed."""
    return [w for s in states for w in s["windows"] if w["class"] == window_class and w["visible"]]


def dialog_text(dialog):
    """The message of a message box or task dialog: its longest static text."""
    texts = [c["text"] for c in dialog["children"] if c["class"].lower() == "static"]
    return max(texts, key=len) if texts else ""


def focused_child(window):
    return next((c for c in window["children"] if c["hwnd"] == window["thread_focus"]), None)


def focused_text(window):
    child = focused_child(window)
    return child["text"] if child else None


def focused_id(window):
    child = focused_child(window)
    return child["id"] if child else None


def installer_starts(run, name, timeout=15):
    """The lines of the stand-in installer's marker, one per start, once there is one."""
    marker = os.path.join(run.temp_dir, name + ".ran")
    deadline = time.monotonic() + timeout
    while not os.path.exists(marker) and time.monotonic() < deadline:
        time.sleep(0.1)
    if not os.path.exists(marker):
        return []
    with open(marker, "rb") as source:
        return source.read().splitlines()


def lines_of(text):
    return text.replace("\r\n", "\n").replace("\r", "\n").split("\n")


def ours_visible(windows):
    return [w for w in windows if w["class"] in (CLIENT_MAIN, UPMAIN) and w["visible"]]


# Cases ---------------------------------------------------------------------------------------
#
# The start-up stops early: (case, registry values or None for no key, expected box text or None
# for the information dialog).
EARLY_STOPS = [
    ("key-missing", None, None),
    ("ver-2.5.1", {"Ver": "2.5.1"}, "'2.5.1' is not a valid floating point value."),
    # A closing quote sorts below ".", so the error box adds no period here.
    ("ver-dword", {"Ver": 2}, "Invalid data type for 'Ver'"),
    # REG_EXPAND_SZ is read as stored, its reference not expanded.
    ("ver-expand-sz", {"Ver": ("expand", "%SystemRoot%")},
     "'%SystemRoot%' is not a valid floating point value."),
    ("ver-comma", {"Ver": "1,5"}, "'1,5' is not a valid floating point value."),
]


def early_stop(run, registry, box_text):
    run.wine.set_vanto_key(registry)
    run.start()
    dialog = run.box("box", "no dialog box appeared")
    check_equal(dialog["caption"], TITLE, "caption of the box")
    text = dialog_text(dialog)
    if box_text is None:
        check_equal(lines_of(text), NO_INFO_LINES, "information text")
        run.check_centred(dialog)
    else:
        check_equal(text, box_text, "error text")
    check_equal(ours_visible(run.probe.dump()), [], "windows of ours visible behind the box")
    check_equal(run.vanto_files(), ["vanto.OLD"], "vanto folder while the box is up")

    run.probe.press_ok()
    first = run.probe.wait(CLIENT_MAIN, CLIENT_MAIN_CAPTION)
    check(first is not None, "the first window did not appear after OK")
    run.shot("first-window")
    run.check_centred(first)
    check_equal(first["client"], [342, 75], "client size of the first window")
    run.check_layout(first, FIRST_WINDOW_LAYOUT)
    check(run.probe.wait_gone(DIALOG, 5000), "the box stayed after OK")
    check(run.process.poll() is None, "vantoup.exe ended while its window was open")
    run.wait_focus_on_button(CLIENT_MAIN)
    for key in ("enter", "space"):
        run.probe.key(CLIENT_MAIN, key)
    time.sleep(0.5)
    check_equal([w["class"] for w in run.probe.dump() if w["visible"] and
                 w["class"] in (DIALOG, UPMAIN)], [], "windows after Enter and Space")
    check(run.process.poll() is None, "Enter or Space ended the program")

    run.probe.close(CLIENT_MAIN)
    check_equal(run.wait_exit(), 0, "exit code")
    states = run.states()
    check_equal([w for w in visible(states, UPMAIN)], [], "upgrade window shown")
    check_equal(run.vanto_files(), ["vanto.exe"], "vanto folder after the run")
    temp = os.path.join(run.temp_dir)
    check(os.path.isdir(temp), "download folder was not created")


def upgrade_installs(run):
    base = run.serve("2.0", extra_args=["--slow", "2", "--slow-path", "/vanto/" + INSTALLER])
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base})
    registry_before = run.wine.query_vanto_key()
    run.start()
    check(run.probe.wait(UPMAIN, UPMAIN_CAPTION, timeout_ms=20000) is not None,
          "the upgrade window did not appear")
    window = run.wait_window(UPMAIN, lambda w: run.label(w, "LblState") == STATE_DOWNLOADING,
                             "the download text")
    check_equal(run.label(window, "LblName"), INSTALLER, "lblName during the download")
    check_equal(run.label(window, "LblCnt"), "", "lblCnt during the download")
    check_equal(window["client"], [341, 66], "client size of the upgrade window")
    run.check_layout(window, UPGRADE_WINDOW_LAYOUT)
    run.check_centred(window)
    run.shot("downloading")

    check_equal(run.wait_exit(), 0, "exit code")
    states = run.states()
    check_equal(visible(states, CLIENT_MAIN), [], "first window shown")
    run.check_upgrade_window_stays(states)
    run.check_state_texts(states, downloads=True)
    check_equal(visible(states, DIALOG), [], "dialog boxes")

    check_equal(len(installer_starts(run, INSTALLER)), 1, "installer starts")
    check_equal(sorted(names_in(run.temp_dir)), sorted([INSTALLER, INSTALLER + ".ran",
                                                        "newvanto.ini"]), "download folder")
    with open(os.path.join(run.temp_dir, INSTALLER), "rb") as got, \
            open(run.args.installer, "rb") as sent:
        check(got.read() == sent.read(), "the downloaded installer differs from the served one")
    check_equal(run.server.request_lines(),
                [b"GET /vanto/newvanto.ini HTTP/1.1", b"GET /vanto/" + INSTALLER.encode() +
                 b" HTTP/1.1"], "requests")
    check_equal(run.wine.query_vanto_key(), registry_before, "registry after the run")
    check_equal(run.vanto_contents(), {"vanto.OLD": DUMMY_VANTO},
                "vanto folder after the upgrade (the installer replaces vanto.exe)")


def input_during_download(run):
    """Keys and a close request while the download blocks the window are handled once it is
    over: the installer is still fetched and started exactly once, and the program ends."""
    base = run.serve("2.0", extra_args=["--slow", "2", "--slow-path", "/vanto/" + INSTALLER])
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base})
    run.start()
    run.wait_window(UPMAIN, lambda w: run.label(w, "LblState") == STATE_DOWNLOADING,
                    "the download text")
    for key in ("enter", "space"):
        typed = run.probe.type(key)
        check(typed["foreground"] and typed["foreground"]["class"] == UPMAIN,
              "the upgrade window is not in the foreground")
    run.shot("input-queued")
    check_equal(run.wait_exit(), 0, "exit code")
    states = run.states()
    check_equal(visible(states, DIALOG), [], "boxes shown")
    time.sleep(1)  # a second start of the installer would come late
    installer_requests = [line for line in run.server.request_lines() if INSTALLER.encode() in line]
    check_equal(len(installer_requests), 1, "installer downloads")
    check_equal(len(installer_starts(run, INSTALLER)), 1, "installer starts")


# No newer version on the server: (case, local Ver, server VER, the vanto folder before the run
# and after it). The backup is rotated, the program restored when nothing was installed, and a
# backup that is the only copy of the program stays.
STALE_BACKUP = b"the backup of an earlier run\n"
INSTALLED = {"vanto.exe": DUMMY_VANTO}
NO_UPDATE = [
    ("same-version-2.0", "2.0", "2.0", INSTALLED, INSTALLED),
    ("newer-local-2.1", "2.1", "2.0", INSTALLED, INSTALLED),
    ("stale-backup-rotated", "2.0", "2.0", {"vanto.exe": DUMMY_VANTO, "vanto.old": STALE_BACKUP},
     INSTALLED),
    ("only-backup-kept", "2.0", "2.0", {"vanto.old": STALE_BACKUP}, {"vanto.old": STALE_BACKUP}),
    ("nothing-installed", "2.0", "2.0", {}, {}),
]


def no_update(run, local, server, before, after):
    run.put_vanto_files(before)
    base = run.serve(server)
    run.wine.set_vanto_key({"Ver": local, "ServerDir": base, "InfoFName": "newvanto.ini"})
    # Every visible window is watched: whatever the run might open would show up.
    run.start(watch_classes=(CLIENT_MAIN, UPMAIN, DIALOG, "*"))
    check_equal(run.wait_exit(), 0, "exit code")
    time.sleep(1.5)  # a program opened by the shell would start after vantoup.exe has ended
    states = run.states()
    check_equal(visible(states, CLIENT_MAIN), [], "first window shown")
    for name in ("LblName", "LblCnt"):
        texts = run.label_sequence(states, name)
        check(texts in ([], [""]), f"texts of {name}: {texts}")
    run.check_state_texts(states, downloads=False)
    ours = (CLIENT_MAIN, UPMAIN, DIALOG, APPLICATION)
    others = [w for s in states for w in s["windows"] if w["visible"] and w["class"] not in ours]
    check_equal(sorted({w["class"] for w in others}), [], "windows opened by the run")
    check_equal(run.server.request_lines(), [b"GET /vanto/newvanto.ini HTTP/1.1"], "requests")
    check_equal(names_in(run.temp_dir), ["newvanto.ini"], "download folder")
    check_equal(run.vanto_contents(), after, "vanto folder after the run")


def installer_missing_then_retry(run):
    base = run.serve("2.0", extra_args=["--missing", "/vanto/" + INSTALLER])
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base, "InfoFName": "newvanto.ini"})
    run.start()
    dialog = run.box("error-box", "no error box appeared")
    check_equal(dialog["caption"], TITLE, "caption of the box")
    check_equal(dialog_text(dialog), "HTTP/1.1 404 Not Found.", "error text")
    windows = run.probe.dump()
    upgrade = [w for w in windows if w["class"] == UPMAIN and w["visible"]]
    check(upgrade, "the upgrade window is not visible behind the box")
    check_equal(run.label(upgrade[0], "LblState"), STATE_DOWNLOADING, "lblState behind the box")
    check_equal(run.label(upgrade[0], "LblName"), INSTALLER, "lblName behind the box")
    check_equal(dialog["owner"], upgrade[0]["hwnd"], "owner of the error box")
    check_equal(visible([{"windows": windows}], CLIENT_MAIN), [], "first window shown")

    run.probe.press_ok()
    check(run.probe.wait_gone(DIALOG, 5000), "the box stayed after OK")
    run.wait_focus_on_button(UPMAIN)
    run.shot("after-error")
    check(run.process.poll() is None, "vantoup.exe ended after a failed download")
    check_equal(names_in(run.temp_dir), ["newvanto.ini"], "download folder after the failure")

    # Space while the installer is still missing: the step runs again and fails again, reported
    # from the message loop this time; the window stays.
    # Space goes to btnUp as a posted keystroke, Enter below as one from the keyboard.
    sent = run.probe.key(UPMAIN, "space")
    check_equal(sent["target"]["id"], run.ids["BtnUp"], "control with the focus")
    dialog = run.box("error-box-again", "no error box after Space")
    check_equal(dialog_text(dialog), "HTTP/1.1 404 Not Found.", "error text after Space")
    run.probe.press_ok()
    check(run.probe.wait_gone(DIALOG, 5000), "the box stayed after OK")
    check(run.process.poll() is None, "vantoup.exe ended after the second failure")
    run.wait_focus_on_button(UPMAIN)

    run.server.control("serve?path=/vanto/" + INSTALLER)
    typed = run.probe.type("enter")
    check(typed["foreground"] and typed["foreground"]["class"] == UPMAIN,
          "the upgrade window is not in the foreground")
    check_equal(run.wait_exit(), 0, "exit code after the retry")
    states = run.states()
    run.check_state_texts(states, downloads=True)
    check_equal(len(installer_starts(run, INSTALLER)), 1, "installer starts")
    installer_requests = [line for line in run.server.request_lines() if INSTALLER.encode() in line]
    check_equal(len(installer_requests), 3, "installer requests (404, 404 on Space, Enter)")


# Started with a show command (case, SW_ value, maximised, minimised): the first window, which
# the main loop shows, follows the maximise and show-minimised-without-activation commands.
SHOW_COMMANDS = [
    ("started-maximised", 3, True, False),
    ("started-minimised", 7, False, True),
]


def started_with_show_command(run, show, zoomed, iconic):
    run.wine.set_vanto_key(None)
    run.start(show=show)
    dialog = run.box("box", "no dialog box appeared")
    check_equal(lines_of(dialog_text(dialog)), NO_INFO_LINES, "information text")
    run.probe.press_ok()
    check(run.probe.wait_gone(DIALOG, 5000), "the box stayed after OK")
    first = run.wait_window(CLIENT_MAIN, lambda w: True, "the first window")
    run.shot("first-window")
    check_equal((first["zoomed"], first["iconic"]), (zoomed, iconic),
                "first window (maximised, minimised)")
    run.probe.close(CLIENT_MAIN)
    check_equal(run.wait_exit(), 0, "exit code")
    run.states()
    check_equal(run.vanto_files(), ["vanto.exe"], "vanto folder after the run")


# The information file cannot be had: (case, how the registry's ServerDir is made, box text).
# The socket error's text ends in a period of its own; the status line gets one appended.
# The request the server must have seen is given where there is a server.
INFO_FAILURES = [
    ("info-unreachable", lambda run: f"http://127.0.0.1:{refused_port()}/vanto/",
     "Socket Error # 10061\r\nConnection refused.", None),
    ("info-404", lambda run: run.serve("2.0", extra_args=["--missing", "/vanto/newvanto.ini"]),
     "HTTP/1.1 404 Not Found.", b"GET /vanto/newvanto.ini HTTP/1.1"),
    # Nothing is added to a ServerDir without its closing slash: the name is glued on.
    ("server-dir-without-slash", lambda run: run.serve("2.0").rstrip("/"),
     "HTTP/1.1 404 Not Found.", b"GET /vantonewvanto.ini HTTP/1.1"),
]


def info_fails(run, server_dir, box_text, request):
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": server_dir(run)})
    run.start()
    dialog = run.box("error-box", "no error box appeared")
    check_equal(dialog["caption"], TITLE, "caption of the box")
    check_equal(dialog_text(dialog), box_text, "error text")
    check_equal(ours_visible(run.probe.dump()), [], "windows of ours visible behind the box")
    run.probe.press_ok()
    first = run.probe.wait(CLIENT_MAIN, CLIENT_MAIN_CAPTION)
    check(first is not None, "the first window did not appear after OK")
    run.shot("first-window")
    run.check_centred(first)
    run.probe.close(CLIENT_MAIN)
    check_equal(run.wait_exit(), 0, "exit code")
    states = run.states()
    check_equal(visible(states, UPMAIN), [], "upgrade window shown")
    check_equal(run.vanto_files(), ["vanto.exe"], "vanto folder after the run")
    check_equal(names_in(run.temp_dir), [], "download folder")
    if request is not None:
        check_equal(run.server.request_lines(), [request], "requests")


def korean_installer_name(run):
    # The installer lies elsewhere than the information file: the file's ServerDir counts.
    # Versions compare as numbers: " 3.10 " is 3.1, below 3.9.
    name = "새 버전 설치.exe"
    base = run.serve("3.9", exe_dir=name, installer_dir="dl")
    run.wine.set_vanto_key({"Ver": " 3.10 ", "ServerDir": base, "InfoFName": "newvanto.ini"})
    run.start()
    check_equal(run.wait_exit(), 0, "exit code")
    states = run.states()
    downloading = [w for w in visible(states, UPMAIN)
                   if run.label(w, "LblState") == STATE_DOWNLOADING]
    if downloading:
        check_equal(run.label(downloading[0], "LblName"), name, "lblName during the download")
    encoded = "/dl/%EC%83%88%20%EB%B2%84%EC%A0%84%20%EC%84%A4%EC%B9%98.exe"
    check_equal(run.server.request_lines(),
                [b"GET /vanto/newvanto.ini HTTP/1.1", f"GET {encoded} HTTP/1.1".encode()],
                "requests")
    check_equal(len(installer_starts(run, name)), 1, "installer starts")
    check(os.path.isfile(os.path.join(run.temp_dir, name)), "installer not saved under its name")


# The installer download fails and nothing may be lost: (case, how the server spoils it, box
# text). The signature cases run only for a program built with the test key.
SIGNATURE_ERROR = "업그레이드화일의 서명이 올바르지 않습니다."
INSTALLER_FAILURES = [
    ("installer-truncated", {"extra_args": ["--truncate", "/vanto/" + INSTALLER]},
     "Connection Closed Gracefully."),
]
SIGNATURE_REFUSALS = [
    ("signature-tampered", {"signature": "tampered"}, SIGNATURE_ERROR),
    ("signature-other-version", {"signature": "other-version"}, SIGNATURE_ERROR),
    ("signature-missing", {"signature": "missing"}, SIGNATURE_ERROR),
]


def installer_fails(run, spoil, box_text):
    base = run.serve("2.0", **spoil)
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base})
    run.start()
    dialog = run.box("error-box", "no error box appeared")
    check_equal(dialog["caption"], TITLE, "caption of the box")
    check_equal(dialog_text(dialog), box_text, "error text")
    upgrade = [w for w in run.probe.dump() if w["class"] == UPMAIN and w["visible"]]
    check(upgrade, "the upgrade window is not visible behind the box")
    check_equal(run.label(upgrade[0], "LblState"), STATE_DOWNLOADING, "lblState behind the box")
    check_equal(names_in(run.temp_dir), ["newvanto.ini"], "download folder after the failure")
    run.probe.press_ok()
    check(run.probe.wait_gone(DIALOG, 5000), "the box stayed after OK")
    check(run.process.poll() is None, "vantoup.exe ended after the failure")
    run.probe.close(UPMAIN)
    check_equal(run.wait_exit(), 0, "exit code")
    run.states()
    check_equal(names_in(run.temp_dir), ["newvanto.ini"], "download folder after the run")
    check_equal(run.vanto_files(), ["vanto.exe"], "vanto folder after the run")


CASES = (
    [(name, lambda run, r=registry, b=box: early_stop(run, r, b))
     for name, registry, box in EARLY_STOPS] +
    [(name, lambda run, s=show, z=zoomed, i=iconic: started_with_show_command(run, s, z, i))
     for name, show, zoomed, iconic in SHOW_COMMANDS] +
    [(name, lambda run, d=server_dir, b=box, r=request: info_fails(run, d, b, r))
     for name, server_dir, box, request in INFO_FAILURES] +
    [("upgrade-1.5-to-2.0", upgrade_installs)] +
    [(name, lambda run, l=local, v=server, b=before, a=after: no_update(run, l, v, b, a))
     for name, local, server, before, after in NO_UPDATE] +
    [("input-during-download", input_during_download),
     ("installer-404-then-retry", installer_missing_then_retry),
     ("korean-installer-name", korean_installer_name)] +
    [(name, lambda run, p=spoil, b=box: installer_fails(run, p, b))
     for name, spoil, box in INSTALLER_FAILURES])
SIGNED_CASES = [(name, lambda run, p=spoil, b=box: installer_fails(run, p, b))
                for name, spoil, box in SIGNATURE_REFUSALS]


def read_control_ids(header):
    """Control IDs by name from the program's header (kLblStateId -> "LblState")."""
    with open(header, encoding="utf-8") as source:
        return {m.group(1): int(m.group(2))
                for m in re.finditer(r"\bk(\w+)Id\s*=\s*(\d+)", source.read())}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("vantoup", "probe", "installer", "server", "wine-prefix-script", "control-ids",
                 "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--signing-key",
                        help="private key matching the public key built into vantoup.exe: "
                        "installers are signed with it and the refusal cases run too")
    parser.add_argument("cases", nargs="*", help="only these cases (default: all)")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    cases = CASES + (SIGNED_CASES if args.signing_key else [])
    selected = [c for c in cases if not args.cases or c[0] in args.cases]
    skipped = 0 if args.signing_key else len(
        [c for c in SIGNED_CASES if not args.cases or c[0] in args.cases])

    started = time.monotonic()
    display = Display(os.path.join(args.work, "xvfb.log"))
    wine = None
    passed = failed = 0
    try:
        wine = Wine(args.work, display, args.wine_prefix_script)
        run = Run(args, display, wine, Probe(wine, args.probe), read_control_ids(args.control_ids))
        for name, case in selected:
            case_start = time.monotonic()
            try:
                run.begin(name)
                case(run)
                passed += 1
                print(f"PASS {name} ({time.monotonic() - case_start:.1f} s)", flush=True)
            except Exception as error:  # a broken case must not stop the others
                failed += 1
                run.shot("failed")
                detail = str(error) if isinstance(error, CaseFailure) else traceback.format_exc()
                print(f"FAIL {name}: {detail}", flush=True)
            finally:
                run.end()
    finally:
        if wine:
            wine.stop()
        display.stop()
    print(f"e2e run took {time.monotonic() - started:.0f} s; screenshots in {args.work}")
    if skipped:
        print(f"{skipped} signature cases need a program built with the test key "
              "(--signing-key)")
    print(f"{passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
