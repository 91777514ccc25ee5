"""Cases of bad local input: registry values and information files that a user can have. None
may crash the program, hang it or leave a file where it does not belong: each ends in the error
box or the defaults, and the program exits with 0 once closed."""

import os
import random
import re
import time

import machine_faults
from cases_startup import early_stop, info_fails
from e2e_context import (APPLICATION, CLIENT_MAIN, DIALOG, DUMMY_VANTO, INSTALLER,
                         STATE_DOWNLOADING, TITLE, UPMAIN, dialog_text, installer_starts, visible)
from harness import check, check_equal, names_in, sign_installer

INFO_REQUEST = b"GET /vanto/newvanto.ini HTTP/1.1"
INSTALLER_REQUEST = b"GET /vanto/" + INSTALLER.encode() + b" HTTP/1.1"
NOT_A_NUMBER = "'{}' is not a valid floating point value."

# Registry values that stop the start-up with the conversion error box, the whole text in it:
# (case, Ver, whether the OK button stays in view). Digits that overflow a double are no number
# either. 100,000 letters fill the screen with the box and push OK below it; OK keeps the focus.
VER_NOT_A_NUMBER = [
    ("ver-5000-nines", "9" * 5000, True),
    ("ver-5000-letters", "v" * 5000, True),
    ("ver-100000-letters", "v" * 100000, False),
]


def ver_not_a_number(run, ver, ok_in_view):
    def button_on_screen(dialog):
        # One word of 5000 letters is not wrapped: the box grows wider than the screen, centred
        # on it, while its OK button stays in view and holds the focus.
        left, top, right, bottom = run.probe.workarea()
        buttons = [c for c in dialog["children"] if c["text"] == "OK"]
        check_equal(len(buttons), 1, "OK buttons")
        b_left, b_top, b_right, b_bottom = buttons[0]["rect"]
        check(left <= b_left and b_right <= right and top <= b_top and b_bottom <= bottom,
              f"OK button at {buttons[0]['rect']} outside the work area")
    early_stop(run, {"Ver": ver}, NOT_A_NUMBER.format(ver),
               button_on_screen if ok_in_view else None)


def ver_5000_digits(run):
    """Leading zeros do not count: 4997 of them before 2.0 read as 2.0, the server's version."""
    base = run.serve("2.0")
    run.wine.set_vanto_key({"Ver": "0" * 4997 + "2.0", "ServerDir": base})
    run.start(watch_classes=(CLIENT_MAIN, UPMAIN, DIALOG, "*"))
    expect_no_update(run)


def server_dir_with_line_break(run):
    """A line break in ServerDir goes onto the wire percent-encoded, on the request line: the
    server sees no header of the text's making and answers 404 for the odd path."""
    def server_dir(run):
        return run.serve("2.0")[:-len("vanto/")] + "va\r\nX-Injected: 1\r\nnto/"
    info_fails(run, server_dir, "HTTP/1.1 404 Not Found.",
               b"GET /va%0D%0AX-Injected:%201%0D%0Anto/newvanto.ini HTTP/1.1")
    blocks = run.server.header_blocks()
    check_equal(len(blocks), 1, "requests with headers")
    names = sorted(line.split(b":")[0] for line in blocks[0])
    check_equal(names, [b"Accept", b"Accept-Encoding", b"Host", b"User-Agent"], "header names")


def info_fname_climbs_out(run):
    """An InfoFName with ..\\ segments is a path like any other: the file is saved where the
    segments lead, outside the download folder, and the run goes on from it."""
    escaped = os.path.join(run.wine.documents, "escaped.ini")
    if os.path.exists(escaped):
        os.remove(escaped)
    base = run.serve("2.0")
    served = info_file(run, "2.0")
    with open(os.path.join(run.server.root, "escaped.ini"), "wb") as out:
        out.write(served)
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base, "InfoFName": "..\\..\\escaped.ini"})
    run.start()
    try:
        expect_upgrade(run, b"GET /vanto/../../escaped.ini HTTP/1.1")
        with open(escaped, "rb") as saved:
            check(saved.read() == served, "escaped.ini differs from the served file")
        check_equal(names_in(os.path.join(run.wine.documents, "vanto")), ["Temp"],
                    "vanto folder of the documents")
        check_equal(names_in(run.temp_dir), sorted([INSTALLER, INSTALLER + ".ran"]),
                    "download folder")
    finally:
        if os.path.exists(escaped):
            os.remove(escaped)


# Information files (case, its bytes made from the INI text, whether the installer is fetched).
FILLER = b"filler " * 14 + b"\r\n"  # 100 bytes a line
TEN_MB = FILLER * (10 * 1024 * 1024 // len(FILLER))


def garbage(size, seed=7):
    data = bytes(random.Random(seed).randrange(256) for _ in range(size))
    # Starting with a byte order mark would make it text of another encoding.
    return b"\x00" + data[1:]


INFO_FILES = [
    ("info-10mb-filler-after", lambda text: text.encode("ascii") + TEN_MB, True),
    ("info-10mb-filler-before", lambda text: TEN_MB + text.encode("ascii"), True),
    ("info-10mb-one-line-before",
     lambda text: b"x" * len(TEN_MB) + b"\r\n" + text.encode("ascii"), True),
    ("info-binary-garbage", lambda text: garbage(64 * 1024), False),
    ("info-utf16-bom", lambda text: b"\xff\xfe" + text.encode("utf-16-le"), True),
    ("info-ver-1e309", lambda text: text.replace("VER=2.0", "VER=1e309").encode("ascii"), False),
]


def info_file_text(run, ver):
    installer_dir = run.server.base + "vanto/"
    lines = ["[VANTO_INFO]", f"VER={ver}", "InfoFName=newvanto.ini", f"ServerDir={installer_dir}",
             "[VANTOK_INFO]", "Infotxt=e2e", "[VANTO_INFO_PC]", "LocalAlias=vanto",
             f"ExeDir={INSTALLER}", f"ExeDirUp={INSTALLER}"]
    if run.args.signing_key:
        with open(run.args.installer, "rb") as source:
            signature = sign_installer(run.args.signing_key, ver, INSTALLER, source.read())
        lines.append("ExeSig=" + signature)
    return "\r\n".join(lines) + "\r\n"


def info_file(run, ver):
    return info_file_text(run, ver).encode("ascii")


def odd_info_file(run, make, upgrades):
    base = run.serve("2.0")
    with open(os.path.join(run.server.root, "vanto", "newvanto.ini"), "wb") as out:
        out.write(make(info_file_text(run, "2.0")))
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base})
    start_expecting(run, upgrades)


def start_expecting(run, upgrades):
    """Runs the program and checks the upgrade, or that nothing at all happens."""
    if upgrades:
        run.start()
        expect_upgrade(run, INFO_REQUEST)
    else:
        run.start(watch_classes=(CLIENT_MAIN, UPMAIN, DIALOG, "*"))
        expect_no_update(run)


def exe_dir_names_a_folder(run):
    """The installer is fetched but cannot be saved over a folder of its name: the file-creation
    error over the upgrade window; closing it ends the run and puts vanto.exe back."""
    name = "setup-folder"
    base = run.serve("2.0", exe_dir=name)
    os.makedirs(os.path.join(run.temp_dir, name))
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": base})
    run.start()
    dialog = run.box("error-box", "no error box appeared")
    check_equal(dialog["caption"], TITLE, "caption of the box")
    text = dialog_text(dialog)
    pattern = (r'Cannot create file "C:\\users\\[^\\"]+\\Documents\\vanto\\Temp\\' + name +
               r'"\. [^\r\n]*\S\.')
    check(re.fullmatch(pattern, text) is not None, f"error text {text!r}")
    upgrade = [w for w in run.probe.dump() if w["class"] == UPMAIN and w["visible"]]
    check(upgrade, "the upgrade window is not visible behind the box")
    check_equal(run.label(upgrade[0], "LblState"), STATE_DOWNLOADING, "lblState behind the box")
    check_equal(dialog["owner"], upgrade[0]["hwnd"], "owner of the error box")
    run.probe.press_ok()
    check(run.probe.wait_gone(DIALOG, 5000), "the box stayed after OK")
    check(run.process.poll() is None, "vantoup.exe ended after the failure")
    run.probe.close(UPMAIN)
    check_equal(run.wait_exit(), 0, "exit code")
    run.states()
    check_equal(run.server.request_lines(), [INFO_REQUEST, f"GET /vanto/{name} HTTP/1.1".encode()],
                "requests")
    check_equal(names_in(run.temp_dir), sorted([name, "newvanto.ini"]), "download folder")
    check_equal(names_in(os.path.join(run.temp_dir, name)), [], "the folder in the way")
    check_equal(run.vanto_files(), ["vanto.exe"], "vanto folder after the run")


# A decimal comma chosen by the user: (case, local Ver, server VER, whether it upgrades). Both
# numbers follow the user's separator; a vendor's "2.0" is no number there and reads as 0.
DECIMAL_COMMA = [
    ("decimal-comma-upgrades", "1,5", "2,0", True),
    ("decimal-comma-vendor-dot-is-0", "1,5", "2.0", False),
]


def decimal_comma(run, local, server, upgrades):
    with machine_faults.decimal_separator(run, ","):
        base = run.serve(server)
        run.wine.set_vanto_key({"Ver": local, "ServerDir": base})
        start_expecting(run, upgrades)


# Outcomes ------------------------------------------------------------------------------------

def expect_upgrade(run, info_request):
    check_equal(run.wait_exit(), 0, "exit code")
    states = run.states()
    check_equal(visible(states, DIALOG), [], "boxes shown")
    run.check_state_texts(states, downloads=True)
    check_equal(run.server.request_lines(), [info_request, INSTALLER_REQUEST], "requests")
    check_equal(len(installer_starts(run, INSTALLER)), 1, "installer starts")
    check_equal(run.vanto_contents(), {"vanto.OLD": DUMMY_VANTO}, "vanto folder after the run")


def expect_no_update(run):
    """The defaults' outcome: no installer, no box, nothing opened, vanto.exe back."""
    check_equal(run.wait_exit(), 0, "exit code")
    time.sleep(1.5)  # a program opened by the shell would start after vantoup.exe has ended
    states = run.states()
    ours = (CLIENT_MAIN, UPMAIN, DIALOG, APPLICATION)
    others = [w for s in states for w in s["windows"] if w["visible"] and w["class"] not in ours]
    check_equal(sorted({w["class"] for w in others}), [], "windows opened by the run")
    check_equal(visible(states, DIALOG), [], "boxes shown")
    run.check_state_texts(states, downloads=False)
    check_equal(run.server.request_lines(), [INFO_REQUEST], "requests")
    check_equal(names_in(run.temp_dir), ["newvanto.ini"], "download folder")
    check_equal(run.vanto_contents(), {"vanto.exe": DUMMY_VANTO}, "vanto folder after the run")


CASES = (
    [(name, lambda run, v=ver, o=in_view: ver_not_a_number(run, v, o))
     for name, ver, in_view in VER_NOT_A_NUMBER] +
    [("ver-5000-digits", ver_5000_digits),
     ("server-dir-line-break", server_dir_with_line_break),
     ("info-fname-dot-dot", info_fname_climbs_out)] +
    [(name, lambda run, m=make, u=upgrades: odd_info_file(run, m, u))
     for name, make, upgrades in INFO_FILES] +
    [("exe-dir-names-a-folder", exe_dir_names_a_folder)] +
    [(name, lambda run, l=local, v=server, u=upgrades: decimal_comma(run, l, v, u))
     for name, local, server, upgrades in DECIMAL_COMMA])
