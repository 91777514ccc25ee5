"""Cases where the start-up stops before the upgrade window: the information message, errors of
the registry values and of the information file's download, and the show command of the start."""

import os
import re
import time

from e2e_context import (CLIENT_MAIN, CLIENT_MAIN_CAPTION, DIALOG, FIRST_WINDOW_LAYOUT,
                         NO_INFO_LINES, TITLE, UPMAIN, dialog_text, lines_of, ours_visible,
                         visible)
from harness import check, check_equal, names_in, refused_port

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


def early_stop(run, registry, box_text, look_at_box=None):
    """`look_at_box`, when given, is called with the box before it is confirmed."""
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
    if look_at_box:
        look_at_box(dialog)

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
    # The reason phrase is the server's: Python 3.13 renamed it to "URI Too Long".
    ("server-dir-100000", lambda run: run.serve("2.0") + "a" * 100000 + "/",
     re.compile(r"HTTP/1\.1 414 (Request-)?URI Too Long\."), None),
    # A file named Temp where the download folder should be: the folder cannot be made, and the
    # information file cannot be saved into it.
    ("download-folder-is-a-file", lambda run: temp_is_a_file(run) + run.serve("2.0"),
     re.compile(r'Cannot create file "C:\\users\\[^\\"]+\\Documents\\vanto\\Temp'
                r'\\newvanto\.ini"\. \S[^\r\n]*\S\.'),
     b"GET /vanto/newvanto.ini HTTP/1.1"),
]


def temp_is_a_file(run):
    os.makedirs(os.path.dirname(run.temp_dir), exist_ok=True)
    with open(run.temp_dir, "wb") as out:
        out.write(b"not a folder")
    return ""


def download_folder(run):
    """What stands where the download folder belongs: ("folder", its names), ("file", its
    bytes), or None."""
    if os.path.isdir(run.temp_dir):
        return ("folder", names_in(run.temp_dir))
    if os.path.isfile(run.temp_dir):
        with open(run.temp_dir, "rb") as source:
            return ("file", source.read())
    return None


def info_fails(run, server_dir, box_text, request):
    run.wine.set_vanto_key({"Ver": "1.5", "ServerDir": server_dir(run)})
    # The run makes an empty download folder, or leaves what stood in its way as it was.
    folder_after = download_folder(run) or ("folder", [])
    run.start()
    dialog = run.box("error-box", "no error box appeared")
    check_equal(dialog["caption"], TITLE, "caption of the box")
    if isinstance(box_text, re.Pattern):
        check(box_text.fullmatch(dialog_text(dialog)), f"error text {dialog_text(dialog)!r}")
    else:
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
    check_equal(download_folder(run), folder_after, "download folder")
    if request is not None:
        check_equal(run.server.request_lines(), [request], "requests")


CASES = (
    [(name, lambda run, r=registry, b=box: early_stop(run, r, b))
     for name, registry, box in EARLY_STOPS] +
    [(name, lambda run, s=show, z=zoomed, i=iconic: started_with_show_command(run, s, z, i))
     for name, show, zoomed, iconic in SHOW_COMMANDS] +
    [(name, lambda run, d=server_dir, b=box, r=request: info_fails(run, d, b, r))
     for name, server_dir, box, request in INFO_FAILURES])
