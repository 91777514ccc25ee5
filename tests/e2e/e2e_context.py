"""What an end-to-end case works with: the program's names and texts, the Run that holds the
environment of one case, and helpers to read the window states the probe reports."""

import json
import os
import shutil
import time

from harness import CaseFailure, DemoServer, check, check_equal, names_in, reset_folder, \
    sign_installer

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
# Controls of fixed size, relative to the client area, as the windows were laid out at design time
# (the layout's own numbers); btnUp lies below the client area on purpose.
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
        self.vanto_dir = os.path.join(wine.program_files(args.probe), "vanto")
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
        (signed for another VER text), "other-exe-dir" (the genuine pair of another ExeDir),
        "old-format" (the earlier message, without ExeDir) or "missing" (no ExeSig entry)."""
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
            signed_exe_dir = {"other-exe-dir": "x" + exe_dir, "old-format": None}.get(
                signature, exe_dir)
            info += ["--exe-sig", sign_installer(self.args.signing_key, signed_version,
                                                 signed_exe_dir, installer)]
        if signature == "tampered":
            middle = len(installer) // 2
            installer = installer[:middle] + bytes([installer[middle] ^ 0x01]) + \
                installer[middle + 1:]
        with open(os.path.join(root, installer_dir, exe_dir), "wb") as out:
            out.write(installer)
        self.server = DemoServer(self.args.server, root, self.args.work, info + list(extra_args))
        return self.server.base + "vanto/"

    def start(self, watch_classes=(CLIENT_MAIN, UPMAIN, DIALOG), show=None, env=None):
        """Runs vantoup.exe in the background; with `show`, through the probe, which starts it
        with that show command in its start-up information and passes on its exit code. `env`:
        variables of its own, such as a locale."""
        self.watch = self.probe.start_watch(watch_classes)
        command = [self.args.vantoup]
        if show is not None:
            windows_path = "Z:" + os.path.abspath(self.args.vantoup).replace("/", "\\")
            command = [self.args.probe, os.path.join(self.wine.tmp, "start.json"), "start",
                       str(show), str(RUN_TIMEOUT * 1000), windows_path]
        self.process = self.wine.start(command, "vantoup-" + self.case, env)

    def box(self, state, missing, ok="OK"):
        """The message or error box once it has settled: it must hold the keyboard, so that
        Enter confirms it. Its screenshot is taken as `state`. `ok`: the button's text in the
        program's locale."""
        check(self.probe.wait(DIALOG, timeout_ms=20000) is not None, missing)
        deadline = time.monotonic() + 5
        while True:
            dialogs = [w for w in self.probe.dump() if w["class"] == DIALOG and w["visible"]]
            check_equal(len(dialogs), 1, "boxes shown")
            dialog = dialogs[0]
            settled = dialog["foreground"] and focused_text(dialog) == ok
            if settled or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        self.shot(state)
        check(dialog["foreground"], "the box is not the foreground window")
        check_equal(focused_text(dialog), ok, "text of the control with the focus")
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

    def label_sequence(self, states, name, shown_only=False):
        """The successive texts of a label of the upgrade window, repeats folded; the window's
        last moments count too, when it is hidden on its way to destruction, unless only what
        was on screen counts."""
        texts = []
        for window in (w for s in states for w in s["windows"] if w["class"] == UPMAIN and
                       (w["visible"] or not shown_only)):
            # A window being torn down loses its children one by one, and their texts.
            present = {c["id"] for c in window["children"]}
            if not all(self.ids[label] in present for label in ("LblState", "LblName", "LblCnt")):
                continue
            text = self.label(window, name)
            if not texts or texts[-1] != text:
                texts.append(text)
        return texts

    def check_state_texts(self, states, downloads):
        """The upgrade window was on screen while lblState went through its texts in order,
        ending on the completion text; "downloads" is whether the download text came between.
        The watcher's hook holds every change of the window until it is recorded, so a window
        that was shown was seen, with each text it took, however briefly."""
        check(visible(states, UPMAIN), "the upgrade window was never visible")
        texts = self.label_sequence(states, "LblState", shown_only=True)
        expected = [STATE_READY] + ([STATE_DOWNLOADING] if downloads else []) + [STATE_DONE]
        check_equal(texts, expected, "texts of lblState")

    def check_upgrade_window_stays(self, states):
        """Once shown, the upgrade window stays visible until the program tears it down at its
        end: it may be hidden only on its way to destruction, never shown again after that."""
        # By the state's position, not its time: two states can share a millisecond.
        seen = [(index, w["visible"])
                for index, s in enumerate(states) for w in s["windows"] if w["class"] == UPMAIN]
        shown_at = next((i for i, (_, shown) in enumerate(seen) if shown), None)
        check(shown_at is not None, "the upgrade window was never visible")
        after = seen[shown_at:]
        hidden_at = next((i for i, (_, shown) in enumerate(after) if not shown), None)
        if hidden_at is None:
            return
        hidden_state = after[hidden_at][0]
        hidden_time = states[hidden_state]["t"]
        check(not any(shown for _, shown in after[hidden_at:]),
              f"the upgrade window was hidden at {hidden_time} ms and shown again")
        gone_time = next((s["t"] for s in states[hidden_state + 1:]
                          if not any(w["class"] == UPMAIN for w in s["windows"])), None)
        check(gone_time is not None,
              f"the upgrade window was hidden at {hidden_time} ms and never went away")
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
        """As much room on the left of the window as on its right, above it as below, to the
        pixel: an odd remainder goes right and below. The run's desktop has its work area in its
        top left corner; there the centre of the work area is where the window belongs."""
        left, top, right, bottom = window["rect"]
        wa_left, wa_top, wa_right, wa_bottom = self.probe.workarea()
        check_equal((wa_left, wa_top), (0, 0), "top left corner of the work area")
        margins = {"left": left - wa_left, "right": wa_right - right, "top": top - wa_top,
                   "bottom": wa_bottom - bottom}
        check(margins["right"] - margins["left"] in (0, 1) and
              margins["bottom"] - margins["top"] in (0, 1),
              f"{window['class']} at {window['rect']} is off the centre of the work area "
              f"{wa_right}x{wa_bottom}: margins {margins}")


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
