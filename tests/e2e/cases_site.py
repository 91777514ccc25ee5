"""The rows of the site table whose outcome hangs on the client's save, run on the real client.

Each row's site is made by vanto-site.exe make (with the stand-in installer, signed for a program
with the test key) and spoilt as the row says. vanto-site.exe check, under the same Wine, predicts
what a client does, and vantoup.exe then runs against the site: it must do what check predicted,
that is ask for the installer or not, show the predicted box, save the file where predicted, and
have the shell start it as a program or not (the shell runs a saved ".exe"; any other file it
hands to the program registered for it, or asks the user). Where the harness's Wine is known to
part from Windows, the row's entry in WINE_PARTS says what that Wine does instead, so that the row
still fails when the client changes."""

import os
import re
import shutil
import subprocess
import sys
import time

from e2e_context import (DIALOG, DUMMY_VANTO, STATE_DOWNLOADING, UPMAIN, UPMAIN_CAPTION,
                         dialog_text)
from harness import CaseFailure, check, check_equal, names_in, sign_installer, wine_layer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "site"))
import site_test  # noqa: E402
from web_servers import WebServer  # noqa: E402

SITE = "site"
DOWNLOAD_FOLDER = "C:\\Users\\USER\\Documents\\vanto\\Temp\\"

# The system's words in the box, as Windows has them (and check predicts them) and as Wine has
# them.
WINE_WORDS = {
    "The system cannot find the path specified.": "Path not found.",
    "Access is denied.": "Access denied.",
    "The filename, directory name, or volume label syntax is incorrect.": "Invalid name.",
    "The handle is invalid.": "Invalid handle.",
    "The system cannot find the file specified.": "File not found.",
}

# Rows where the client under the harness's Wine does otherwise than check predicts for Windows, by
# the row's name, for every Wine or for one ("Wine 8" runs the x86_64 build on the host, "Wine 10"
# the i686 build in the WoW64 root): what it does there, ("box", text), ("starts", the path saved
# and started as a program) or ("saved", the path saved and not started), and why.
WINE_PARTS = {
    # Wine reports a folder of three dots on the way as "..", and refuses the name; Windows keeps
    # "..." as a name and finds no such folder.
    "folder of three dots": ("box", 'Cannot create file "%s..\\%s". Invalid name.'
                             % (DOWNLOAD_FOLDER, site_test.INSTALLER)),
    # A name longer than 255 characters: Wine looks for it and finds nothing, Windows refuses it.
    "name past 255 characters": ("box", 'Cannot create file "%s%s". File not found.'
                                 % (DOWNLOAD_FOLDER, site_test.TOO_LONG)),
    # Wine 8's shell runs a file that is a program whatever its name; Windows and Wine 10 hand a
    # file that is no ".exe" to the program registered for it, or ask: a name without an
    # extension, one that ended in a dot (saved without it), a text file, an installer package.
    "no extension": {"Wine 8": ("starts", DOWNLOAD_FOLDER + "setup")},
    "final dot": {"Wine 8": ("starts", DOWNLOAD_FOLDER + "setup")},
    "a text file": {"Wine 8": ("starts", DOWNLOAD_FOLDER + "readme.txt")},
    "an installer package": {"Wine 8": ("starts", DOWNLOAD_FOLDER + "Setup.MSI")},
}


def wine_part(name):
    part = WINE_PARTS.get(name)
    if isinstance(part, dict):
        return part.get("Wine 10" if wine_layer.current_platform() is wine_layer.WOW64_WINE
                        else "Wine 8")
    return part


def save_dependent(row):
    _, spoil, installer, _, _, _, _ = row
    return installer is not None or hasattr(spoil, "exe_dir")


def case_name(name):
    return "site-" + re.sub(r"[^a-z0-9]+", "-", name.lower()).strip("-")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Prediction:
    """What check's report says the client does: `requests` (the request lines it makes),
    `outcome` ("starts", "saved" or "box"), `path` (the file saved, or the device written) and
    `box` (the box's text)."""

    def __init__(self, report):
        self.requests = [line[4:].encode() for line in report.splitlines()
                         if line.startswith("  > ")]
        if re.search(r"^installer: not requested", report, re.M):
            self.requests = self.requests[:1]
        result = re.findall(r"^result: a client at \S+ (.*)$", report, re.M)
        check(result, "check's report has no result:\n" + report)
        what = result[-1]
        modelled = re.findall(r"^  where Windows follows the rules above, the client (.*)$",
                              report, re.M)
        if modelled:
            what = modelled[-1]
        boxes = re.findall(r'^  the user sees the box "(.*)"(?:, or nothing where the port '
                           r"exists)?$", report, re.M)
        saved = re.findall(r"^  the client saves it as (.*?)(?:, that is (.*))?$", report, re.M)
        self.box = boxes[-1] if boxes else None
        self.path = None
        opens = re.fullmatch(r'upgrades to "[^"]*" and opens (.*)', what)
        if opens:
            self.path = opens.group(1)
            self.outcome = "starts" if self.path.lower().endswith(".exe") else "saved"
        elif what.startswith("shows"):
            check(self.box is not None, "check predicts a box but gives no text:\n" + report)
            self.outcome = "box"
        elif what.startswith("opens no installer"):
            self.outcome = "saved"
            self.path = saved[-1][1] or saved[-1][0]
        else:
            raise CaseFailure(f"check predicts {what!r}, which no row of this table expects")

    def wine(self, part, user):
        """The prediction with Wine's part instead of Windows' where the row has one, and the
        prefix's user in the box's path, as the system writes it."""
        if part:
            self.outcome, value = part
            self.box, self.path = (value, None) if self.outcome == "box" else (None, value)
        if self.box:
            for windows, wine in WINE_WORDS.items():
                if self.box.endswith(" " + windows):
                    self.box = self.box[:-len(windows)] + wine
            self.box = self.box.replace("C:\\Users\\USER\\", "C:\\users\\%s\\" % user)
        return self

    def device(self):
        return self.path is not None and self.path.startswith("\\\\.\\")


class SiteRow:
    """One row of the site table on the client."""

    def __init__(self, row):
        (self.name, self.spoil, self.installer_name, self.args, self.status, self.says,
         self.never) = row
        self.signed = "KEY" in self.args
        self.installed = self.args[self.args.index("--installed") + 1]
        self.code_page = self.args[self.args.index("--code-page") + 1] \
            if "--code-page" in self.args else "949"

    def __call__(self, run):
        root = os.path.join(run.args.work, "site-" + run.case)
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(os.path.join(root, "in"))
        for folder in (run.args.work, root):
            os.chmod(folder, 0o755)
        name = self.installer_name or site_test.INSTALLER
        installer = os.path.join(root, "in", name)
        shutil.copyfile(run.args.installer, installer)
        run.server = WebServer("nginx", root, os.path.join(root, "conf"))
        base = run.server.base + SITE + "/"
        site = os.path.join(root, SITE)
        rc = run.wine.run([run.args.site_tool, "make", "--version", "2.0", "--installer",
                           windows_path(installer), "--server-dir", base, windows_path(site)],
                          name="vanto-site-make")
        check_equal(rc, 0, "vanto-site make: " + run.wine.output_of("vanto-site-make").decode())
        if self.signed:
            # The Windows build cannot sign: the signature is added as the Linux build would.
            with open(installer, "rb") as source:
                signature = sign_installer(run.args.signing_key, "2.0", name, source.read())
            with open(os.path.join(site, "newvanto.ini"), "ab") as info:
                info.write(b"ExeSig=" + signature.encode() + b"\r\n")
        if self.spoil:
            self.spoil(site, root)

        key = windows_path(os.path.join(os.path.dirname(run.args.signing_key or ""),
                                        "test-public.pem"))
        args = site_test.with_key(self.args, key)
        rc = run.wine.run([run.args.site_tool, "check", base, *args], name="vanto-site-check")
        report = run.wine.output_of("vanto-site-check").decode(errors="replace")
        check_equal(rc, self.status, "exit code of check\n" + report)
        # check models the client with the client's own code: a fault shared by both would pass
        # unseen but for the row's own texts, written by hand.
        for text in self.says:
            check(text.format(folder=SITE) in report, f"check's report lacks {text!r}:\n{report}")
        for text in self.never:
            check(text.format(folder=SITE) not in report,
                  f"check's report holds {text!r}:\n{report}")
        predicted = Prediction(report).wine(wine_part(self.name), run.wine.user)
        asked_before = len(access_log_requests(run.server))

        run.wine.set_vanto_key({"Ver": self.installed, "ServerDir": base})
        if predicted.path and not predicted.device():
            remove_outside_download_folder(run, unix_path(run, predicted.path))
        started_before = set(markers(run))
        locale = self.client_locale(site)
        run.start(env=locale)
        if predicted.outcome == "box":
            self.box_shown(run, predicted, "확인" if locale else "OK")
        else:
            check_equal(run.wait_exit(), 0, "exit code")
            states = run.states()
            shown = [dialog_text(d) for s in states for d in s["windows"]
                     if d["class"] == DIALOG and d["visible"]]
            check_equal(shown[:1], [], "boxes shown")
            run.check_state_texts(states, downloads=True)
        check_equal(access_log_requests(run.server)[asked_before:], predicted.requests,
                    "requests")
        self.files_as_predicted(run, predicted, installer, started_before)
        # vanto.exe stays aside for the installer that was started, and is back where nothing
        # was saved; where a file was saved and not started, it hangs on whether the shell
        # could open it at all.
        if predicted.outcome == "starts" or predicted.outcome == "box" or predicted.device():
            left = "vanto.OLD" if predicted.outcome == "starts" else "vanto.exe"
            check_equal(run.vanto_contents(), {left: DUMMY_VANTO}, "vanto folder")

    def client_locale(self, site):
        """The client reads the information file in its ANSI code page: where the file holds
        other than ASCII without a UTF-16 mark, the client runs in the code page check read it
        in (949 in a Korean locale; 1252 in the harness's own, C.UTF-8)."""
        with open(os.path.join(site, "newvanto.ini"), "rb") as info:
            text = info.read()
        if text.startswith(b"\xff\xfe") or all(b < 0x80 for b in text):
            return None
        if self.code_page == "949":
            # Without the locale, Wine would fall back to code page 1252 without a word.
            known = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout
            check("ko_kr.utf8" in known.lower().split(),
                  "no locale ko_KR.UTF-8 (scripts/install-deps makes it)")
            return {"LC_CTYPE": "ko_KR.UTF-8"}
        check_equal(self.code_page, "1252", "a code page the harness can give the client")
        return None

    def box_shown(self, run, predicted, ok):
        dialog = run.box("error-box", "no error box appeared", ok=ok)
        check_equal(dialog_text(dialog), predicted.box, "error text")
        upgrade = [w for w in run.probe.dump() if w["class"] == UPMAIN and w["visible"]]
        check(upgrade and upgrade[0]["caption"] == UPMAIN_CAPTION,
              "the upgrade window is not visible behind the box")
        check_equal(run.label(upgrade[0], "LblState"), STATE_DOWNLOADING, "lblState behind the box")
        run.probe.press_ok()
        check(run.probe.wait_gone(DIALOG, 5000), "the box stayed after OK")
        run.probe.close(UPMAIN)
        check_equal(run.wait_exit(), 0, "exit code")
        run.states()

    def files_as_predicted(self, run, predicted, installer, started_before):
        with open(installer, "rb") as source:
            served = source.read()
        temp = names_in(run.temp_dir)
        check(not [n for n in temp if n.endswith(".part")], f"a staging file is left: {temp}")
        if predicted.outcome == "box" or predicted.device():
            check_equal(temp, ["newvanto.ini"], "download folder")
            check_equal(sorted(set(markers(run)) - started_before), [], "installers started")
            return
        saved = unix_path(run, predicted.path)
        check(saved is not None and os.path.isfile(saved),
              f"nothing saved as {predicted.path}: download folder {temp}")
        saved = os.path.realpath(saved)
        try:
            with open(saved, "rb") as got:
                check(got.read() == served, f"{predicted.path} is not the served installer")
            # The shell starts what it opens after the client has ended: give it that time.
            deadline = time.monotonic() + (15 if predicted.outcome == "starts" else 1.5)
            while not os.path.exists(saved + ".ran") and time.monotonic() < deadline:
                time.sleep(0.1)
            check_equal(sorted(set(markers(run)) - started_before),
                        [saved + ".ran"] if predicted.outcome == "starts" else [],
                        "installers started")
        finally:
            remove_outside_download_folder(run, saved)


def remove_outside_download_folder(run, saved):
    """A file saved outside the download folder, and the marker of its start, which the next
    run of the same prefix would otherwise meet."""
    saved = os.path.realpath(saved)
    if not saved.startswith(os.path.realpath(run.temp_dir) + os.sep):
        for path in (saved, saved + ".ran"):
            if os.path.isfile(path):
                os.remove(path)


def access_log_requests(server):
    with open(os.path.join(server.work, "access.log"), "rb") as log:
        return [m.group(1) for m in re.finditer(rb'"([A-Z]+ [^"]* HTTP/1\.1)"', log.read())]


def markers(run):
    """The markers of every start of the stand-in installer in the users' folders."""
    found = []
    for top in (run.wine.unix_path("users"), run.wine.documents):
        for folder, _, files in os.walk(top):
            found += [os.path.join(folder, f) for f in files if f.endswith(".ran")]
    return sorted(set(os.path.realpath(p) for p in found))


def unix_path(run, path):
    """The Unix path of a Windows path of the client, with the usual user of check's report as
    the prefix's user; every name matched as Windows does, regardless of case."""
    check(path.upper().startswith("C:\\"), f"a path off drive C: {path}")
    names = path[3:].split("\\")
    if [n.upper() for n in names[:2]] == ["USERS", "USER"]:
        names[1] = run.wine.user
    return find_name(run.wine.unix_path(), names)


def find_name(folder, names):
    for name in names:
        if not os.path.isdir(folder):
            return None
        matches = [n for n in os.listdir(folder) if n.upper() == name.upper()]
        if not matches:
            return os.path.join(folder, name)
        folder = os.path.join(folder, matches[0])
    return folder


ROWS = [SiteRow(row) for row in site_test.SITES if save_dependent(row)]
CASES = [(case_name(r.name), r) for r in ROWS if not r.signed]
SIGNED_CASES = [(case_name(r.name), r) for r in ROWS if r.signed]
