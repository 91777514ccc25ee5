"""Cases of the whole run: the installer fetched and started, no newer version, input during the
download, failed installer downloads with their retry, names in Korean, refused signatures."""

import contextlib
import os
import re
import shutil
import sys
import time

import machine_faults

from e2e_context import (DIALOG, DUMMY_VANTO, INSTALLER, STATE_DOWNLOADING, TITLE, UPMAIN,
                         UPMAIN_CAPTION, UPGRADE_WINDOW_LAYOUT, APPLICATION, CLIENT_MAIN,
                         dialog_text, installer_starts, visible)
from harness import check, check_equal, names_in, sign_installer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "site"))
from web_servers import WebServer  # noqa: E402

HELD_INSTALLER = ["--hold", "/vanto/" + INSTALLER]
RELEASE_INSTALLER = "release?path=/vanto/" + INSTALLER


def upgrade_installs(run):
    # The server holds the installer back until the window has been looked at.
    base = run.serve("2.0", extra_args=HELD_INSTALLER)
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
    run.server.control(RELEASE_INSTALLER)

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
    base = run.serve("2.0", extra_args=HELD_INSTALLER)
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base})
    run.start()
    run.wait_window(UPMAIN, lambda w: run.label(w, "LblState") == STATE_DOWNLOADING,
                    "the download text")
    for key in ("enter", "space"):
        typed = run.probe.type(key)
        check(typed["foreground"] and typed["foreground"]["class"] == UPMAIN,
              "the upgrade window is not in the foreground")
    # Keys from the keyboard wait behind the end of the run; posted ones come before it.
    sent = run.probe.key(UPMAIN, "enter")
    check_equal(sent["target"]["id"], run.ids["BtnUp"], "control with the focus")
    run.probe.close(UPMAIN)
    run.shot("input-queued")
    time.sleep(0.5)
    check(run.process.poll() is None, "vantoup.exe ended while its download was held")
    run.server.control(RELEASE_INSTALLER)
    check_equal(run.wait_exit(), 0, "exit code")
    states = run.states()
    run.check_state_texts(states, downloads=True)
    check_equal(visible(states, DIALOG), [], "boxes shown")
    check_equal(run.vanto_contents(), {"vanto.OLD": DUMMY_VANTO},
                "vanto folder (the installer replaces vanto.exe)")
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
    # A server VER that is no number reads as 0, silently.
    ("server-ver-not-a-number", "1.5", "2.0.1", INSTALLED, INSTALLED),
    ("stale-backup-rotated", "2.0", "2.0", {"vanto.exe": DUMMY_VANTO, "vanto.old": STALE_BACKUP},
     INSTALLED),
    # Left aside by a run that was ended: the backup is the program, and comes back.
    ("only-backup-restored", "2.0", "2.0", {"vanto.old": STALE_BACKUP},
     {"vanto.exe": STALE_BACKUP}),
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
    check(downloading, "the download text was never shown")
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
    # Past the body limit of 2 GiB - 1 that every build shares; 2^32 + the real size would be
    # exactly the bytes sent if a 32-bit build cut the length.
    ("installer-past-the-limit",
     {"extra_args": ["--announce-length", f"/vanto/{INSTALLER}=2147483648"]}, "Out of memory."),
    ("installer-length-wraps-in-32-bits",
     {"extra_args": ["--announce-length", f"/vanto/{INSTALLER}=+4294967296"]}, "Out of memory."),
]
# (case, how the site is spoilt). ExeDir names that a signed client refuses before the request are
# rows of the site table (cases_site.py), as are the names Windows saves elsewhere or refuses.
SIGNATURE_REFUSALS = [
    ("signature-tampered", {"signature": "tampered"}),
    ("signature-other-version", {"signature": "other-version"}),
    ("signature-missing", {"signature": "missing"}),
    ("signature-other-exe-dir", {"signature": "other-exe-dir"}),
    ("signature-old-format", {"signature": "old-format"}),
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


VENDOR_VANTO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "vendor_vanto.txt")


def upgrade_from_nginx_site(run):
    """A site written by vanto-site make (its Windows build, under Wine), served by nginx. With a
    vendor's installer (made by makensis) the whole chain runs with the parts vendors use: the
    installer replaces vanto.exe and writes the new Ver."""
    check(run.args.site_tool is not None, "no --site-tool given")
    root = os.path.join(run.args.work, "site-" + run.case)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "in"))
    for folder in (run.args.work, root):
        os.chmod(folder, 0o755)
    installer = os.path.join(root, "in", INSTALLER)
    shutil.copyfile(run.args.vendor_installer or run.args.installer, installer)
    run.server = WebServer("nginx", root, os.path.join(root, "conf"))
    base = run.server.base + "vanto/"

    def windows(path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    rc = run.wine.run([run.args.site_tool, "make", "--version", "2.0", "--installer",
                       windows(installer), "--server-dir", base, windows(os.path.join(root,
                                                                                   "vanto"))],
                      name="vanto-site-make")
    check_equal(rc, 0, "vanto-site make: " + run.wine.output_of("vanto-site-make").decode())
    if run.args.signing_key:
        # The Windows build cannot sign: the signature is added as the Linux build would.
        with open(installer, "rb") as source:
            signature = sign_installer(run.args.signing_key, "2.0", INSTALLER, source.read())
        with open(os.path.join(root, "vanto", "newvanto.ini"), "ab") as info:
            info.write(b"ExeSig=" + signature.encode() + b"\r\n")
    # The Windows build's check reads the file with the system's own INI reader.
    rc = run.wine.run([run.args.site_tool, "check", base, "--installed", "1.5"],
                      name="vanto-site-check")
    report = run.wine.output_of("vanto-site-check").decode()
    check(rc == 0 and "upgrades to" in report, "vanto-site check: %d\n%s" % (rc, report))
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base})
    run.start()
    check_equal(run.wait_exit(), 0, "exit code")
    states = run.states()
    check_equal(visible(states, DIALOG), [], "dialog boxes")
    run.check_state_texts(states, downloads=True)
    with open(os.path.join(run.temp_dir, INSTALLER), "rb") as got, open(installer, "rb") as sent:
        check(got.read() == sent.read(), "the downloaded installer differs from the served one")
    if not run.args.vendor_installer:
        check_equal(len(installer_starts(run, INSTALLER)), 1, "installer starts")
        return
    with open(VENDOR_VANTO, "rb") as source:
        new_vanto = source.read()
    deadline = time.monotonic() + 30
    while run.vanto_contents().get("vanto.exe") != new_vanto and time.monotonic() < deadline:
        time.sleep(0.2)
    check_equal(run.vanto_contents(), {"vanto.exe": new_vanto, "vanto.OLD": DUMMY_VANTO},
                "vanto folder after the vendor's installer")
    rc, registry = run.wine.query_vanto_key()
    check(rc == 0 and re.search(rb"\bVer\s+REG_SZ\s+2\.0\s", registry),
          "Ver after the vendor's installer: %r" % registry)


# The program is killed at a step of a run: (case, the download it is killed in, the server's
# VER on the next run, whether a staging file of a killed save lies in the download folder).
# The next run puts vanto.exe back or completes the upgrade; the only copy is never lost.
KILLED_RUNS = [
    ("killed-in-info-then-nothing-newer", "/vanto/newvanto.ini", "1.5", False),
    ("killed-in-installer-then-nothing-newer", "/vanto/" + INSTALLER, "1.5", False),
    ("killed-in-installer-then-upgrade", "/vanto/" + INSTALLER, "2.0", False),
    ("killed-in-save-then-upgrade", "/vanto/" + INSTALLER, "2.0", True),
]


def killed_then_run_again(run, slow_path, next_ver, stale_part):
    base = run.serve("2.0", extra_args=["--slow", "60", "--slow-path", slow_path])
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base})
    run.start()
    if slow_path.endswith(INSTALLER):
        run.wait_window(UPMAIN, lambda w: run.label(w, "LblState") == STATE_DOWNLOADING,
                        "the download text")
    else:
        deadline = time.monotonic() + 20
        while not run.server.request_lines() and time.monotonic() < deadline:
            time.sleep(0.1)
        check(run.server.request_lines(), "the information file was never asked for")
    run.shot("before-kill")
    run.process.kill()
    run.process.wait()
    run.states()
    check_equal(run.vanto_contents(), {"vanto.OLD": DUMMY_VANTO}, "vanto folder after the kill")
    check(INSTALLER not in names_in(run.temp_dir), "an installer was saved by the killed run")
    if stale_part:
        with open(os.path.join(run.temp_dir, INSTALLER + ".part"), "wb") as out:
            out.write(b"the first half of an installer")

    run.server.stop()
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": run.serve(next_ver)})
    run.start()
    check_equal(run.wait_exit(), 0, "exit code of the next run")
    states = run.states()
    check_equal(visible(states, DIALOG), [], "boxes shown")
    run.check_state_texts(states, downloads=next_ver != "1.5")
    if next_ver == "1.5":
        check_equal(run.vanto_contents(), {"vanto.exe": DUMMY_VANTO}, "vanto folder")
        # What the killed run had written stays under the staging name, never the installer's,
        # until a save of that name replaces it.
        staged = [INSTALLER + ".part"] if slow_path.endswith(INSTALLER) else []
        check_equal(sorted(names_in(run.temp_dir)), sorted(["newvanto.ini"] + staged),
                    "download folder")
        return
    check_equal(len(installer_starts(run, INSTALLER)), 1, "installer starts")
    check_equal(run.vanto_contents(), {"vanto.OLD": DUMMY_VANTO}, "vanto folder")
    check_equal(sorted(names_in(run.temp_dir)),
                sorted([INSTALLER, INSTALLER + ".ran", "newvanto.ini"]), "download folder")
    with open(os.path.join(run.temp_dir, INSTALLER), "rb") as got, \
            open(run.args.installer, "rb") as sent:
        check(got.read() == sent.read(), "the saved installer differs from the served one")


OLDER_INSTALLER = b"the installer of an earlier attempt\n"


def place_older_installer(run):
    os.makedirs(run.temp_dir, exist_ok=True)
    with open(os.path.join(run.temp_dir, INSTALLER), "wb") as out:
        out.write(OLDER_INSTALLER)


@contextlib.contextmanager
def full_disk(run):
    """The download folder on a tmpfs smaller than the installer; ending it makes room."""
    with machine_faults.small_disk(run.temp_dir, "256k") as disk:
        try:
            place_older_installer(run)
            yield lambda: disk.grow("16m")
        finally:
            run.end()  # nothing of the run may hold the small disk


@contextlib.contextmanager
def installer_held_open(run):
    """The older installer open, unshared, in another program, as a running installer holds its
    own file; ending it lets the file go."""
    place_older_installer(run)
    hold = run.probe.hold_file(os.path.join(run.temp_dir, INSTALLER))
    try:
        yield hold.release
    finally:
        hold.release()


@contextlib.contextmanager
def staging_file_held_open(run):
    """The staging file open, unshared, in another program, as another run of the client holds
    the one it is writing; ending it leaves the file, as a run killed while saving does."""
    place_older_installer(run)
    staging = os.path.join(run.temp_dir, INSTALLER + ".part")
    with open(staging, "wb") as out:
        out.write(b"half of another run's download")
    hold = run.probe.hold_file(staging)
    try:
        yield hold.release
    finally:
        hold.release()


# The reason is the system's own words for the cause, another program's open file: a sharing
# violation (Wine's words, or Windows'), not a matter of rights.
SHARING_VIOLATION = (r'Cannot create file "C:\\.*\\vanto\\Temp\\' + re.escape(INSTALLER) +
                     r'"\. (Sharing violation|The process cannot access the file because it is '
                     r'being used by another process)\.')

# The machine refuses the installer's save: (case, the fault, the box text as a pattern, whether
# the fault is then ended and the step retried, or the window closed, what else the download
# folder holds after the failure). The older installer of that name is kept whole, and no staging
# file of this run is left.
SAVE_REFUSED = [
    ("disk-full-then-retry", full_disk, re.escape("Stream write error."), True, []),
    ("disk-full-then-close", full_disk, re.escape("Stream write error."), False, []),
    ("installer-held-open-then-retry", installer_held_open, SHARING_VIOLATION, True, []),
    ("staging-file-held-open-then-retry", staging_file_held_open, SHARING_VIOLATION, True,
     [INSTALLER + ".part"]),
]


def save_refused(run, fault, box_text, retry, left):
    with fault(run) as end_fault:
        run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": run.serve("2.0")})
        run.start()
        dialog = run.box("error-box", "no error box appeared")
        text = dialog_text(dialog)
        check(re.fullmatch(box_text, text, re.S), f"error text {text!r}")
        upgrade = [w for w in run.probe.dump() if w["class"] == UPMAIN and w["visible"]]
        check(upgrade, "the upgrade window is not visible behind the box")
        check_equal(sorted(names_in(run.temp_dir)), sorted([INSTALLER, "newvanto.ini"] + left),
                    "download folder after the failure")
        with open(os.path.join(run.temp_dir, INSTALLER), "rb") as older:
            check(older.read() == OLDER_INSTALLER, "the older installer was not kept whole")
        run.probe.press_ok()
        check(run.probe.wait_gone(DIALOG, 5000), "the box stayed after OK")
        run.wait_focus_on_button(UPMAIN)
        if not retry:
            run.probe.close(UPMAIN)
            check_equal(run.wait_exit(), 0, "exit code")
            run.states()
            check_equal(run.vanto_contents(), {"vanto.exe": DUMMY_VANTO}, "vanto folder")
            return
        end_fault()
        typed = run.probe.type("enter")
        check(typed["foreground"] and typed["foreground"]["class"] == UPMAIN,
              "the upgrade window is not in the foreground")
        check_equal(run.wait_exit(), 0, "exit code after the retry")
        run.states()
        check_upgraded_in(run)
        with open(os.path.join(run.temp_dir, INSTALLER), "rb") as got, \
                open(run.args.installer, "rb") as sent:
            check(got.read() == sent.read(), "the saved installer differs from the served one")


# The user's documents folder elsewhere: (case, its path, whether the platform names it). The
# whole upgrade runs from there. Near MAX_PATH the installer's path is 259 characters, its
# staging file's beyond 260; past MAX_PATH, Wine names the usual documents folder instead.
NEAR_MAX_PATH = "C:\\" + "\\".join(["d" * 50] * 4) + "\\" + "e" * 25
DOCUMENTS_FOLDERS = [
    ("documents-korean", "C:\\사용자 문서\\내 문서", True),
    ("documents-near-max-path", NEAR_MAX_PATH, True),
    ("documents-past-max-path", NEAR_MAX_PATH + "f" * 40, False),
]


def upgrade_from_documents(run, windows_path, named):
    with machine_faults.documents_folder(run, windows_path) as moved:
        base = run.serve("2.0")
        run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base})
        run.start()
        check_equal(run.wait_exit(), 0, "exit code")
        states = run.states()
        check_equal(visible(states, DIALOG), [], "boxes shown")
        if named:
            check_upgraded_in(run)
            check_equal(names_in(os.path.join(run.wine.documents, "vanto")), [],
                        "the usual documents folder")
        else:
            check_equal(names_in(moved), [], "the documents folder past MAX_PATH")
    if not named:
        check_upgraded_in(run)


def check_upgraded_in(run):
    """The installer saved into and started from the run's download folder."""
    check_equal(len(installer_starts(run, INSTALLER)), 1, "installer starts from there")
    check_equal(sorted(names_in(run.temp_dir)),
                sorted([INSTALLER, INSTALLER + ".ran", "newvanto.ini"]), "download folder")
    check_equal(run.vanto_contents(), {"vanto.OLD": DUMMY_VANTO}, "vanto folder")


CASES = (
    [("upgrade-1.5-to-2.0", upgrade_installs)] +
    [(name, lambda run, l=local, v=server, b=before, a=after: no_update(run, l, v, b, a))
     for name, local, server, before, after in NO_UPDATE] +
    [("input-during-download", input_during_download),
     ("installer-404-then-retry", installer_missing_then_retry),
     ("korean-installer-name", korean_installer_name),
     ("upgrade-from-nginx-site", upgrade_from_nginx_site)] +
    [(name, lambda run, p=spoil, b=box: installer_fails(run, p, b))
     for name, spoil, box in INSTALLER_FAILURES] +
    [(name, lambda run, p=path, v=ver, s=stale: killed_then_run_again(run, p, v, s))
     for name, path, ver, stale in KILLED_RUNS] +
    [(name, lambda run, f=fault, t=text, r=retry, l=left: save_refused(run, f, t, r, l))
     for name, fault, text, retry, left in SAVE_REFUSED] +
    [(name, lambda run, p=path, n=named: upgrade_from_documents(run, p, n))
     for name, path, named in DOCUMENTS_FOLDERS])
SIGNED_CASES = [(name, lambda run, p=spoil: installer_fails(run, p, SIGNATURE_ERROR))
                for name, spoil in SIGNATURE_REFUSALS]
