#!/usr/bin/env python3
"""vanto-site against its own sites: the refusals of `make`, and `check` and the client's download
against sites served by nginx, apache2 and lighttpd on loopback.

usage: site_test.py make|served --site TOOL --fetch VANTO_FETCH --keys DIR --work DIR
       site_test.py windows --site TOOL --windows-site TOOL.EXE --wine RUNNER --keys DIR --work DIR

windows runs every site of the table through the Linux build and the Windows build (under Wine,
on nginx) and wants the same exit code and verdict from both."""

import argparse
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import web_servers  # noqa: E402

SIGNATURE_BOX = "업그레이드화일의 서명이 올바르지 않습니다."
INSTALLER = "vanto-setup-2.0.exe"

# name | changed arguments of a valid make | what the refusal must say
REFUSALS = [
    ("version with a blank", {"--version": "2.0 "}, 'VER "2.0 ": ends with a blank'),
    ("version in quotes", {"--version": '"2.0"'}, "begins with a quote"),
    ("dotted version", {"--version": "2.5.1"}, 'VER "2.5.1": not a plain decimal number'),
    ("decimal comma", {"--version": "2,0"}, 'VER "2,0": not a plain decimal number'),
    ("version with a final dot", {"--version": "2."}, "not a plain decimal number"),
    ("version with an exponent", {"--version": "2e1"}, "not a plain decimal number"),
    ("empty version", {"--version": ""}, 'VER "": not a plain decimal number'),
    ("https server", {"--server-dir": "https://h/v/"}, "not an http:// URL"),
    ("no final slash", {"--server-dir": "http://h/v"}, 'does not end in "/"'),
    ("server without host", {"--server-dir": "http:///v/"}, "the client refuses it"),
    ("query in server dir", {"--server-dir": "http://h/v?x/"}, 'holds "?" or "#"'),
    ("blank before server dir", {"--server-dir": " http://h/v/"}, "begins with a blank"),
    ("long server dir", {"--server-dir": "http://h/" + "d" * 2100 + "/"},
     "longer than the 2047 the client reads"),
    ("hash in installer name", {"installer": "setup#2.exe"}, '"#" cannot travel in the URL'),
    ("percent in installer name", {"installer": "setup%202.exe"}, '"%" cannot travel'),
    ("question mark in name", {"installer": "setup?.exe"}, '"?" cannot travel'),
    ("blank after installer name", {"installer": "setup.exe "}, "ends with a blank"),
    ("final dot in installer name", {"installer": "setup."}, 'drops a final "."'),
    ("info name with a folder", {"--info-name": "..\\x.ini"}, 'InfoFName "..\\x.ini"'),
    ("installer named as a device", {"installer": "nul"}, 'the device NUL'),
    ("device name with an extension", {"installer": "Con.exe"}, "the device CON"),
    ("printer port", {"installer": "lpt1.exe"}, "the device LPT1"),
    ("character Windows refuses", {"installer": "setup<1>.exe"}, '"<" is refused'),
    ("pipe in the name", {"installer": "a|b.exe"}, '"|" is refused'),
    ("info name a device", {"--info-name": "aux.ini"}, 'InfoFName "aux.ini": Windows takes it'),
    ("info name with a colon", {"--info-name": "a:b.ini"}, '":" is refused'),
    ("installer named as the info file", {"installer": "NEWVANTO.INI"},
     "the same as the information file's"),
    ("installer named as the info file's staging", {"installer": "newvanto.ini.PART"},
     "which one would replace on the way"),
    ("info file named as the installer's staging", {"--info-name": INSTALLER + ".part"},
     "which one would replace on the way"),
    ("info text with a quote", {"--info-text": "'반토"}, 'Infotxt "\'반토": begins with a quote'),
    ("long info text", {"--info-text": "x" * 2048}, "Infotxt (2048 characters)"),
    ("alias with a tab", {"--local-alias": "vanto\t"}, "ends with a tab"),
    ("missing installer", {"installer": None}, "cannot be read"),
    ("empty installer", {"installer": "empty.exe"}, ": is empty"),
    ("public key as signing key", {"--key": "test-public.pem"}, 'key "'),
    ("P-384 key", {"--key": "p384-private.pem"}, "not an ECDSA P-256"),
    ("installer is a folder", {"installer": "folder/setup.exe"}, ": is a folder"),
    ("installer is a device", {"installer": "/dev/zero"}, "is a device, not a file"),
    ("installer larger than the client takes", {"installer": "huge/" + INSTALLER},
     "2147483648 bytes, more than the 2147483647 bytes the client downloads"),
    ("installer without an extension", {"installer": "setup"}, 'only for ".exe" and ".msi"'),
    ("text file as installer", {"installer": "readme.txt"}, 'only for ".exe" and ".msi"'),
    ("installer name past the shell's path", {"installer": "b" * 247 + ".exe"},
     "251 characters: with a download folder of 120"),
]


# make in a folder where something already stands: (name, what the folder holds before, how make
# runs, exit code, what the folder must hold after). Whatever make did not write stays as it was.
OUTSIDE = b"a file outside the site"
OLDER = {INSTALLER: b"older installer", "newvanto.ini": b"older information file"}
MAKE_FOLDERS = [
    ("link at the installer's staging name", {INSTALLER + ".part": ("link", "outside.bin")}, {}, 1,
     {INSTALLER + ".part": ("link", "outside.bin")}),
    ("vendor's own file at a staging name", {"newvanto.ini.part": b"the vendor's own"}, {}, 1,
     {"newvanto.ini.part": b"the vendor's own"}),
    ("link at the installer's name when make fails",
     {INSTALLER: ("link", "outside.bin"), "newvanto.ini": "folder"}, {}, 1,
     {INSTALLER: ("link", "outside.bin"), "newvanto.ini": "folder"}),
    ("link at the installer's name is replaced, not written through",
     {INSTALLER: ("link", "outside.bin")}, {}, 0, {INSTALLER: "installer", "newvanto.ini": "any"}),
    ("SIGTERM undoes the run", OLDER, {"signal": signal.SIGTERM}, -signal.SIGTERM, OLDER),
    ("SIGINT undoes the run", OLDER, {"signal": signal.SIGINT}, -signal.SIGINT, OLDER),
    ("installer read once for the copy and the signature", {}, {"fifo": True}, 0,
     {INSTALLER: "installer", "newvanto.ini": "any"}),
    ("pipe at the installer's name when make fails", {INSTALLER: "pipe", "newvanto.ini": "folder"},
     {}, 1, {INSTALLER: "pipe", "newvanto.ini": "folder"}),
    ("SIGHUP undoes the run", OLDER, {"signal": signal.SIGHUP}, -signal.SIGHUP, OLDER),
    ("SIGINT the caller ignores stays ignored", OLDER, {"signal": signal.SIGINT, "ignored": True},
     0, {INSTALLER: "installer", "newvanto.ini": "any"}),
    ("SIGINT while the key is read ends the run", OLDER, {"key_pipe": signal.SIGINT},
     -signal.SIGINT, OLDER),
]


class Suite:
    def __init__(self, args):
        self.args = args
        self.failures = 0
        self.passed = 0

    def case(self, name, ok, detail):
        if ok:
            self.passed += 1
        else:
            self.failures += 1
            print("FAIL %s\n%s" % (name, detail))

    def run(self, tool, *args):
        done = subprocess.run([tool, *args], capture_output=True, timeout=120)
        return done.returncode, done.stdout.decode() + done.stderr.decode()

    def run_windows(self, *args):
        """The Windows build under Wine; its output through a file, never a pipe, since Wine's
        services may hold on to the streams of the first program of a session."""
        output = os.path.join(self.args.work, "windows-output.txt")
        with open(output, "wb") as out:
            done = subprocess.run([self.args.wine, self.args.windows_site, *args], stdout=out,
                                  stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=180)
        with open(output, "rb") as got:
            return done.returncode, got.read().decode(errors="replace")

    def make(self, outdir, version="2.0", installer=None, key=True, extra=()):
        installer = installer or os.path.join(self.args.work, "in", INSTALLER)
        args = ["make", "--version", version, "--installer", installer,
                "--server-dir", self.server_dir]
        if key:
            args += ["--key", os.path.join(self.args.keys, "test-private.pem")]
        return self.run(self.args.site, *args, *extra, outdir)

    def check(self, server_dir, *extra):
        return self.run(self.args.site, "check", server_dir, "--installed", "1.5",
                        "--public-key", os.path.join(self.args.keys, "test-public.pem"), *extra)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def installer_bytes():
    return b"MZ" + bytes(range(256)) * 1200 + b"\r\n\x00end"


def refusals(suite):
    work = suite.args.work
    inputs = os.path.join(work, "in")
    write(os.path.join(inputs, INSTALLER), installer_bytes())
    write(os.path.join(inputs, "empty.exe"), b"")
    os.makedirs(os.path.join(inputs, "folder", "setup.exe"), exist_ok=True)
    os.makedirs(os.path.join(inputs, "huge"), exist_ok=True)
    with open(os.path.join(inputs, "huge", INSTALLER), "wb") as huge:
        huge.truncate(2 ** 31)  # sparse: one byte more than the client takes
    suite.server_dir = "http://127.0.0.1:1/vanto/"
    for name, changes, expected in REFUSALS:
        outdir = os.path.join(work, "out-" + name.replace(" ", "-"))
        shutil.rmtree(outdir, ignore_errors=True)
        args = {"--version": "2.0", "--server-dir": suite.server_dir,
                "--key": "test-private.pem"}
        installer = os.path.join(inputs, INSTALLER)
        extra = []
        for option, value in changes.items():
            if option == "installer":
                installer = os.path.join(inputs, value if value else "missing.exe")
                if value and value != "empty.exe" and os.sep not in value:
                    write(installer, installer_bytes())
            elif option in args:
                args[option] = value
            else:
                extra += [option, value]
        command = ["make", "--version", args["--version"], "--installer", installer,
                   "--server-dir", args["--server-dir"],
                   "--key", os.path.join(suite.args.keys, args["--key"]), *extra, outdir]
        rc, out = suite.run(suite.args.site, *command)
        suite.case("make refuses: " + name,
                   rc == 1 and expected in out and "nothing written" in out
                   and not os.path.exists(outdir),
                   "rc %d, output:\n%s" % (rc, out))
    rc, out = suite.make(os.path.join(work, "out-good"))
    suite.case("make writes a valid site", rc == 0 and "signed" in out, out)
    rc, out = suite.make(os.path.join(work, "out-good"))
    suite.case("make writes over an older site", rc == 0 and
               sorted(os.listdir(os.path.join(work, "out-good"))) == sorted([INSTALLER, "newvanto.ini"]),
               out)
    # The last rename fails: the information file's place is a folder.
    blocked = os.path.join(work, "out-blocked")
    shutil.rmtree(blocked, ignore_errors=True)
    os.makedirs(os.path.join(blocked, "newvanto.ini"))
    rc, out = suite.make(blocked)
    suite.case("make leaves nothing when its last rename fails",
               rc == 1 and "failed:" in out and os.listdir(blocked) == ["newvanto.ini"]
               and os.listdir(os.path.join(blocked, "newvanto.ini")) == [], out)
    # An older site stays whole when the new one cannot be written.
    older = os.path.join(work, "out-older")
    shutil.rmtree(older, ignore_errors=True)
    write(os.path.join(older, INSTALLER), b"older installer")
    os.makedirs(os.path.join(older, "newvanto.ini"))
    rc, out = suite.make(older)
    with open(os.path.join(older, INSTALLER), "rb") as kept:
        suite.case("make keeps the older installer when it fails",
                   rc == 1 and kept.read() == b"older installer" and
                   sorted(os.listdir(older)) == sorted([INSTALLER, "newvanto.ini"]), out)
    # Older files are kept aside where nothing of the user's is, whatever the files' names.
    aside = os.path.join(work, "out-aside")
    shutil.rmtree(aside, ignore_errors=True)
    write(os.path.join(aside, ".previous-1"), b"the user's own")
    for attempt in ("first", "second"):
        rc, out = suite.make(aside, extra=["--info-name", ".previous-0"])
        own = os.path.join(aside, ".previous-1")
        kept = open(own, "rb").read() if os.path.isfile(own) else None
        info = os.path.join(aside, ".previous-0")
        suite.case("make over its own site, %s time, keeps what it did not write" % attempt,
                   rc == 0 and kept == b"the user's own" and
                   sorted(os.listdir(aside)) == [".previous-0", ".previous-1", INSTALLER] and
                   os.path.isfile(info) and open(info, "rb").read().startswith(b"[VANTO_INFO]"),
                   "%s\n%s" % (out, sorted(os.listdir(aside))))
    rc, out = suite.make(os.path.join(work, "out-korean"),
                         extra=["--info-text", "반토 2.0 업그레이드"])
    with open(os.path.join(work, "out-korean", "newvanto.ini"), "rb") as info:
        head = info.read(2)
    suite.case("Korean text makes a UTF-16 file", rc == 0 and head == b"\xff\xfe", out)
    make_folder_cases(suite)


def make_folder_cases(suite):
    work = suite.args.work
    outside = os.path.join(work, "outside.bin")
    for number, (name, before, how, status, after) in enumerate(MAKE_FOLDERS):
        out = os.path.join(work, "folder%d" % number)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        write(outside, OUTSIDE)
        for entry, what in before.items():
            path = os.path.join(out, entry)
            if what == "folder":
                os.mkdir(path)
            elif what == "pipe":
                os.mkfifo(path)
            elif isinstance(what, tuple):
                os.symlink(os.path.join(work, what[1]), path)
            else:
                write(path, what)
        installer = os.path.join(work, "in", INSTALLER)
        opens = []
        if how.get("fifo"):
            # A FIFO gives its bytes to one open only, as an installer still being written gives
            # other bytes to each read: a second read waits for good.
            installer = os.path.join(work, "fifo", INSTALLER)
            os.makedirs(os.path.dirname(installer), exist_ok=True)
            if os.path.exists(installer):
                os.remove(installer)
            os.mkfifo(installer)

            def feed():
                with open(installer, "wb") as fifo:
                    opens.append(True)
                    fifo.write(installer_bytes())
            feeder = threading.Thread(target=feed, daemon=True)
            feeder.start()
        key = os.path.join(suite.args.keys, "test-private.pem")
        late = how.get("key_pipe")
        if late:
            # The key comes from a pipe that nobody writes, as a pass phrase prompt waits: the
            # signal arrives while make waits for it.
            key = os.path.join(work, "key-pipe")
            if os.path.exists(key):
                os.remove(key)
            os.mkfifo(key)
        args = [suite.args.site, "make", "--version", "2.0", "--installer", installer,
                "--server-dir", "http://127.0.0.1:1/vanto/", "--key", key, out]
        held = how.get("signal") or late

        def pending_signal():
            signal.signal(held, signal.SIG_IGN if how.get("ignored") else signal.SIG_DFL)
            if late:
                return
            # Raised before make starts and held across exec: make meets it as soon as it looks.
            signal.pthread_sigmask(signal.SIG_BLOCK, [held])
            os.kill(os.getpid(), held)
        process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   preexec_fn=pending_signal if held else None)
        try:
            if late:
                try:
                    process.wait(0.5)
                except subprocess.TimeoutExpired:
                    process.send_signal(late)
            output, _ = process.communicate(timeout=30)
            rc, report = process.returncode, output.decode()
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            rc, report = None, "make did not end"
        read_by_make = len(opens)
        if how.get("fifo"):
            feeder.join(5)
        found = {}
        for entry in sorted(os.listdir(out)):
            path = os.path.join(out, entry)
            if os.path.islink(path):
                found[entry] = ("link", os.path.basename(os.readlink(path)))
            elif stat.S_ISFIFO(os.lstat(path).st_mode):
                found[entry] = "pipe"
            elif os.path.isdir(path):
                found[entry] = "folder" if not os.listdir(path) else sorted(os.listdir(path))
            else:
                with open(path, "rb") as source:
                    content = source.read()
                found[entry] = "installer" if content == installer_bytes() else \
                    "%d bytes" % len(content) if len(content) > 100 else content
        expected = {entry: found.get(entry, "missing") if what == "any" else what
                    for entry, what in after.items()}
        with open(outside, "rb") as source:
            outside_kept = source.read() == OUTSIDE
        suite.case("make in a folder: " + name,
                   rc == status and found == expected and outside_kept and
                   (not how.get("fifo") or read_by_make == 1),
                   "rc %s (expected %d), folder %r (expected %r), outside kept: %s, installer "
                   "opened %d times\n%s" % (rc, status, found, expected, outside_kept,
                                            read_by_make, report))


def served_site(suite, root, base, folder, installer=None):
    """A site made by make in root/folder, for base + folder + "/"."""
    suite.server_dir = base + folder + "/"
    rc, out = suite.make(os.path.join(root, folder), installer=installer)
    if rc != 0:
        raise RuntimeError("make failed: " + out)
    return os.path.join(root, folder), suite.server_dir


# Ways to spoil a site that make wrote: each gets (site folder, server root) and edits them.
def remove_installer(site, root):
    os.remove(os.path.join(site, INSTALLER))


def folder_for_installer(site, root):
    remove_installer(site, root)
    os.mkdir(os.path.join(site, INSTALLER))


def truncate_installer(site, root):
    with open(os.path.join(site, INSTALLER), "r+b") as installer:
        installer.truncate(1000)


def relabel(site, root):
    info_path = os.path.join(site, "newvanto.ini")
    with open(info_path, "rb") as info:
        text = info.read().replace(b"VER=2.0", b"VER=2.1")
    write(info_path, text)


def exe_dir(name, served_as, deeper="", encoding="utf-8"):
    """ExeDir set to `name` by hand (make refuses such names), written in `encoding` without a
    byte-order mark, and the installer moved to where the server finds what the client asks for:
    `served_as`, relative to the site folder and the folders `deeper` that ServerDir is given, so
    that a name climbing out of the download folder stays inside the server's root. The end-to-end
    table runs every such row on the client: it reads `name`, `served_as` and `deeper`."""
    def spoil(site, root):
        info_path = os.path.join(site, "newvanto.ini")
        with open(info_path, "rb") as info:
            text = info.read().replace(
                b"ExeDir=" + INSTALLER.encode(),
                b"ExeDir=" + (name if isinstance(name, bytes) else name.encode(encoding)))
        if deeper:
            text = re.sub(rb"(ServerDir=[^\r\n]*/)", lambda m: m.group(1) + deeper.encode() + b"/",
                          text)
        write(info_path, text)
        target = os.path.normpath(os.path.join(site, deeper, served_as))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        os.rename(os.path.join(site, INSTALLER), target)
    spoil.exe_dir, spoil.served_as, spoil.deeper = name, served_as, deeper
    return spoil


def replace_info(old, new):
    def spoil(site, root):
        info_path = os.path.join(site, "newvanto.ini")
        with open(info_path, "rb") as info:
            text = info.read()
        write(info_path, new if old is None else text.replace(old, new))
    return spoil


def utf8_mark(site, root):
    info_path = os.path.join(site, "newvanto.ini")
    with open(info_path, "rb") as info:
        text = info.read()
    write(info_path, b"\xef\xbb\xbf" + text)


def spoilt_twice(first, second):
    def spoil(site, root):
        first(site, root)
        second(site, root)
    for name in ("exe_dir", "served_as", "deeper"):
        if hasattr(first, name):
            setattr(spoil, name, getattr(first, name))
    return spoil


def truncate_file(name):
    def spoil(site, root):
        with open(os.path.join(site, name), "r+b") as installer:
            installer.truncate(1000)
    return spoil


SAVED_ABOVE = "C:\\Users\\USER\\Documents\\vanto\\" + INSTALLER
TEMP = "C:\\Users\\USER\\Documents\\vanto\\Temp"
LONG_NAME = "b" * 247 + ".exe"
PATH_NOT_FOUND = "The system cannot find the path specified."
A_PATH = "error: ExeDir \"%s\": a path, not a file of the download folder"
NOT_OPENED = 'the shell starts a program or installer only for ".exe" and ".msi"'
HTML_PAGE = b"<!DOCTYPE html>\r\n<html><body>The site moved.</body></html>\r\n"
# Windows cuts no name that it saves; the server decodes "%61" to "a", so that it can serve a
# file for a name longer than a Linux file system holds.
TOO_LONG = "%61" * 3 + "a" * 252

# One site per row, made by make and then spoilt: (name, spoil or None, make's installer name or
# None, check's arguments (KEY: the public key), exit code, texts the report holds, texts it must
# not hold). The Windows build of check must give the same exit code and verdict on every row.
SITES = [
    ("good site upgrades", None, None, ["--installed", "1.5", "KEY"], 0,
     ["ExeSig verifies", "upgrades to", "GET /{folder}/%s HTTP/1.1" % INSTALLER], []),
    ("current client finds nothing to do", None, None,
     ["--installed", "2.0", "--expect-current"], 0, ["nothing to do"], []),
    ("an upgrade is not current", None, None, ["--installed", "1.5", "--expect-current"], 1,
     ["upgrades to"], []),
    ("missing information file", None, None,
     ["--installed", "1.5", "--info-name", "other.ini"], 1, ["404"], []),
    ("installer missing", remove_installer, None, ["--installed", "1.5", "KEY"], 1,
     ["404", "box"], []),
    ("301 for the installer is not followed", folder_for_installer, None,
     ["--installed", "1.5", "KEY"], 1, [" 301 "], ["GET /{folder}/%s/" % INSTALLER]),
    ("truncated installer", truncate_installer, None, ["--installed", "1.5", "KEY"], 1,
     [SIGNATURE_BOX], []),
    ("signature over another version", relabel, None, ["--installed", "1.5", "KEY"], 1,
     [SIGNATURE_BOX], []),
    ("ExeSig shown without a key", None, None, ["--installed", "1.5"], 0,
     ['ExeSig = "', "signature: not checked (no --public-key)", "upgrades to"],
     ['ExeSig = ""']),
    ("installer one folder up", exe_dir("..\\" + INSTALLER, "../" + INSTALLER), None,
     ["--installed", "1.5"], 1,
     ["GET /{folder}/../%s HTTP/1.1" % INSTALLER,
      "saved outside the download folder, as " + SAVED_ABOVE, "opens " + SAVED_ABOVE,
      A_PATH % ("..\\" + INSTALLER)], ["result: a client at 1.5 upgrades"]),
    ("installer one folder up, with a slash", exe_dir("../" + INSTALLER, "../" + INSTALLER),
     None, ["--installed", "1.5"], 1,
     ["opens " + SAVED_ABOVE, A_PATH % ("../" + INSTALLER), "no verdict"], []),
    ("folder of three dots", exe_dir("...\\" + INSTALLER, ".../" + INSTALLER), None,
     ["--installed", "1.5"], 1,
     ['"Cannot create file "%s\\...\\%s". %s"' % (TEMP, INSTALLER, PATH_NOT_FOUND)], []),
    ("folder with a final blank", exe_dir("..\\Temp \\" + INSTALLER, "../Temp /" + INSTALLER),
     None, ["--installed", "1.5"], 1,
     ['"Cannot create file "%s \\%s". %s"' % (TEMP, INSTALLER, PATH_NOT_FOUND)], []),
    ("folder with two final dots", exe_dir("..\\Temp..\\" + INSTALLER, "../Temp../" + INSTALLER),
     None, ["--installed", "1.5"], 1, [PATH_NOT_FOUND], ["and opens"]),
    ("download folder with a final dot", exe_dir("..\\Temp.", "../Temp.", deeper="a"),
     None,
     ["--installed", "1.5"], 1,
     ['the box "Cannot create file "%s". Access is denied."' % TEMP], ["opens no installer"]),
    ("the user's desktop", exe_dir("..\\..\\..\\Desktop\\" + INSTALLER,
                                   "../../../Desktop/" + INSTALLER, deeper="a/b/c"), None,
     ["--installed", "1.5"], 1,
     ["opens C:\\Users\\USER\\Desktop\\" + INSTALLER, "error: ExeDir", "no verdict"],
     [PATH_NOT_FOUND]),
    ("the public folder", exe_dir("..\\..\\..\\..\\Public\\" + INSTALLER,
                                  "../../../../Public/" + INSTALLER, deeper="a/b/c/d"), None,
     ["--installed", "1.5"], 1,
     ["opens C:\\Users\\Public\\" + INSTALLER, "no verdict"], [PATH_NOT_FOUND]),
    ("device name with another extension", exe_dir("nul.txt", "nul.txt"), None,
     ["--installed", "1.5"], 1,
     ["Windows 10 takes it for the device NUL, Windows 11 only without an extension"], []),
    ("no extension", exe_dir("setup", "setup"), None, ["--installed", "1.5"], 1,
     [NOT_OPENED, "no verdict"], []),
    ("a text file", exe_dir("readme.txt", "readme.txt"), None, ["--installed", "1.5"], 1,
     [NOT_OPENED], []),
    ("a name too long for the shell", exe_dir("c" * 236 + ".exe", "c" * 236 + ".exe"), None,
     ["--installed", "1.5"], 1,
     ["240 characters: with a download folder of 120",
      "the path, 275 characters, passes the 259 characters that the shell opens",
      "opens no installer"], ["upgrades to"]),
    ("an installer package", exe_dir("Setup.MSI", "Setup.MSI"), None,
     ["--installed", "1.5"], 0, ["opens %s\\Setup.MSI" % TEMP], ["error"]),
    ("Korean name in UTF-8 without a mark", exe_dir("반토설치.exe", "반토설치.exe"), None,
     ["--installed", "1.5"], 1,
     ["error: the file is UTF-8 without a byte-order mark", "read as code page 949", " 404 ",
      # Each lead byte takes the next, and a pair that is no character reads as "?", which the
      # request leaves as it is: what follows is a query.
      "GET /{folder}/%E8%AB%9B%EC%84%91%EB%84%97?%E3%85%BC%ED%8A%82.exe HTTP/1.1"],
     ["upgrades to"]),
    ("Korean name in code page 949", exe_dir("반토설치.exe", "반토설치.exe", encoding="cp949"),
     None, ["--installed", "1.5"], 0,
     ["GET /{folder}/%EB%B0%98%ED%86%A0%EC%84%A4%EC%B9%98.exe HTTP/1.1",
      "non-ASCII text without a UTF-16 byte-order mark, read as code page 949"], ["error"]),
    ("Korean name read in another code page", exe_dir("반토설치.exe", "반토설치.exe", encoding="cp949"),
     None, ["--installed", "1.5", "KEY", "--code-page", "1252"], 1, [" 404 "], ["%EB%B0%98"]),
    # A user-defined character of code page 949, which Windows reads as one of the private use.
    ("user-defined character in code page 949", exe_dir(b"\xfe\xa1.exe", "\ue05e.exe"), None,
     ["--installed", "1.5"], 0,
     ["GET /{folder}/%EE%81%9E.exe HTTP/1.1", "opens %s\\\ue05e.exe" % TEMP], ["error"]),
    # Bytes that are a character of their own in code page 932 and none in iconv's.
    ("single bytes of code page 932", replace_info(b"Infotxt=vanto 2.0", b"Infotxt=\x80\xfe\xff"),
     None, ["--installed", "1.5", "--code-page", "932"], 0,
     ['Infotxt = "\u0080\uf8f2\uf8f3"', "upgrades to"], []),
    ("HTML page is not current", replace_info(None, HTML_PAGE), None,
     ["--installed", "1.5", "--expect-current"], 1,
     ["no VER in [VANTO_INFO]", "finds nothing to do", "error: --expect-current"], []),
    ("UTF-8 mark is not current", utf8_mark, None, ["--installed", "2.0", "--expect-current"], 1,
     ["UTF-8 byte-order mark", "error: --expect-current: no VER"], []),
    ("VER with an exponent", replace_info(b"VER=2.0", b"VER=2e1"), None, ["--installed", "1.5"],
     1, ["reads it as 20 with a decimal point or comma", "no verdict"], ["reads it as 0"]),
    ("VER with a decimal comma", replace_info(b"VER=2.0", b"VER=2,0"), None,
     ["--installed", "1.5"], 1, ["as 2 with a decimal comma", "no verdict"],
     ["never upgrades", "result: a client at 1.5 finds nothing to do"]),
    ("UTF-8 mark before a comment line",
     replace_info(b"[VANTO_INFO]\r\n", b"\xef\xbb\xbf; by hand\r\n[VANTO_INFO]\r\n"), None,
     ["--installed", "1.5", "KEY"], 0, ["nothing is lost", "upgrades to"], ["warning: the file"]),
    ("hash in ExeDir ends the path", exe_dir("setup#2.exe", "setup"), None,
     ["--installed", "1.5"], 0, ["GET /{folder}/setup HTTP/1.1", "opens %s\\setup#2.exe" % TEMP],
     ["cannot travel", "error"]),
    ("dotted VER is not current", replace_info(b"VER=2.0", b"VER=2.0.1"), None,
     ["--installed", "1.5", "--expect-current"], 1, ["reads it as 0", "error: --expect-current"],
     []),
    ("installer in a folder the client lacks", exe_dir("sub\\" + INSTALLER, "sub/" + INSTALLER),
     None, ["--installed", "1.5"], 1,
     ["GET /{folder}/sub/%s HTTP/1.1" % INSTALLER,
      'the box "Cannot create file "C:\\Users\\USER\\Documents\\vanto\\Temp\\sub\\%s". The system '
      'cannot find the path specified."' % INSTALLER], []),
    ("device name", exe_dir("nul", "nul"), None, ["--installed", "1.5"], 1,
     ["the device NUL", "that is \\\\.\\nul", "opens no installer"], ["upgrades to", "box"]),
    ("device name with an extension", exe_dir("con.exe", "con.exe"), None,
     ["--installed", "1.5"], 1,
     ["the device CON", "Windows 11 only without an extension", 'the box "Cannot create file "\\\\.\\con". The handle is invalid."'],
     ["opens no installer"]),
    ("printer port with an extension", exe_dir("LPT1.exe", "LPT1.exe"), None,
     ["--installed", "1.5"], 1,
     ["the device LPT1", 'the box "Cannot create file "\\\\.\\LPT1". The system cannot '
      'find the file specified.", or nothing where the port exists',
      "shows a box, or nothing where the port exists"], []),
    ("port zero is a name", exe_dir("com0.exe", "com0.exe"), None, ["--installed", "1.5"],
     0, ["opens C:\\Users\\USER\\Documents\\vanto\\Temp\\com0.exe"], ["device"]),
    ("device name with a colon", exe_dir("nul:", "nul:"), None, ["--installed", "1.5"], 1,
     ["the device NUL", "opens no installer"], ["upgrades to", "box"]),
    ("folder with a final dot", exe_dir("..\\Temp.\\" + INSTALLER, "../Temp./" + INSTALLER),
     None, ["--installed", "1.5"], 1,
     ["opens C:\\Users\\USER\\Documents\\vanto\\Temp\\" + INSTALLER, "a path, not a file"],
     ["outside"]),
    ("missing folder with a final dot", exe_dir("sub.\\" + INSTALLER, "sub./" + INSTALLER), None,
     ["--installed", "1.5"], 1,
     ['the box "Cannot create file "C:\\Users\\USER\\Documents\\vanto\\Temp\\sub\\%s". '
      'The system cannot find the path specified."' % INSTALLER], []),
    ("folder Windows refuses", exe_dir("a<b\\" + INSTALLER, "a<b/" + INSTALLER), None,
     ["--installed", "1.5"], 1,
     ['the box "Cannot create file "C:\\Users\\USER\\Documents\\vanto\\Temp\\a<b\\%s". '
      'The filename, directory name, or volume label syntax is incorrect."' % INSTALLER], []),
    ("refused name on a truncated installer",
     spoilt_twice(exe_dir("setup<2>.exe", "setup<2>.exe"), truncate_file("setup<2>.exe")), None,
     ["--installed", "1.5"], 1,
     ['Temp\\setup<2>.exe". The filename, directory name, or volume label syntax is incorrect."'],
     ['the box "' + SIGNATURE_BOX]),
    ("ExeDir of dots only", exe_dir("...", "..."), None, ["--installed", "1.5"], 1,
     ['the box "Cannot create file "C:\\Users\\USER\\Documents\\vanto\\Temp\\". Access is '
      'denied."'], ["opens no installer", PATH_NOT_FOUND]),
    ("character Windows refuses", exe_dir("setup<1>.exe", "setup<1>.exe"), None,
     ["--installed", "1.5"], 1,
     ['"<" is refused', 'Temp\\setup<1>.exe". The filename, directory name, or volume label '
      'syntax is incorrect."'], []),
    ("final dot", exe_dir("setup.", "setup."), None, ["--installed", "1.5"], 1,
     ['it saves "setup"', "opens no installer"], []),
    ("name of 251 characters", exe_dir(LONG_NAME, LONG_NAME), None, ["--installed", "1.5"], 1,
     ["staged as", "opens no installer", "251 characters: with a download folder of 120"],
     ["upgrades to"]),
    ("name past 255 characters", exe_dir(TOO_LONG, "aaa" + "a" * 252), None,
     ["--installed", "1.5"], 1, ["more than the 255", "volume label syntax"], []),
    # With a key, ExeDir is signed: a plain name other than the signed one fails the signature,
    # and any other name is refused before the installer is asked for.
    ("signed site with another plain ExeDir", exe_dir("com0.exe", "com0.exe"), None,
     ["--installed", "1.5", "KEY"], 1, ["GET /{folder}/com0.exe HTTP/1.1", SIGNATURE_BOX], []),
    ("signed site with ExeDir one folder up", exe_dir("..\\" + INSTALLER, "../" + INSTALLER),
     None, ["--installed", "1.5", "KEY"], 1, ["not requested", SIGNATURE_BOX],
     ["GET /{folder}/.."]),
    ("signed site with a device ExeDir", exe_dir("nul", "nul"), None,
     ["--installed", "1.5", "KEY"], 1, ["not requested", SIGNATURE_BOX], ["GET /{folder}/nul"]),
]


def with_key(args, key):
    expanded = []
    for arg in args:
        expanded += ["--public-key", key] if arg == "KEY" else [arg]
    return expanded


def result_lines(report):
    return [line for line in report.splitlines() if line.startswith("result:")]


def check_cases(suite, kind, root, base, windows_site=None):
    """check against sites on one server; each row is one site in a folder of its own."""
    for number, (name, spoil, installer, args, status, says, never) in enumerate(SITES):
        folder = "site%d" % number
        if installer:
            write(os.path.join(suite.args.work, "in", installer), installer_bytes())
            installer = os.path.join(suite.args.work, "in", installer)
        site, url = served_site(suite, root, base, folder, installer=installer)
        if spoil:
            spoil(site, root)
        key = os.path.join(suite.args.keys, "test-public.pem")
        rc, out = suite.run(suite.args.site, "check", url, *with_key(args, key))
        texts_ok = all(text.format(folder=folder) in out for text in says) and \
            not any(text.format(folder=folder) in out for text in never)
        suite.case("%s: %s" % (kind, name), rc == status and texts_ok and result_lines(out),
                   "rc %d (expected %d), output:\n%s" % (rc, status, out))
        if windows_site:
            windows_key = "Z:" + key.replace("/", "\\")
            wrc, wout = suite.run_windows("check", url, *with_key(args, windows_key))
            suite.case("%s: %s, Windows build" % (kind, name),
                       wrc == rc and result_lines(wout) == result_lines(out),
                       "rc %d and %d, Linux:\n%s\nWindows:\n%s" % (rc, wrc, out, wout))


def fetch_cases(suite, kind, root, base):
    """The client's download from the server: byte-identical files, refused 3xx, 403, 404."""
    data = os.urandom(300000) + bytes(range(256))
    write(os.path.join(root, "files", "payload.bin"), data)
    write(os.path.join(root, "files", "이름 있는.exe"), b"named")
    os.makedirs(os.path.join(root, "files", "folder"), exist_ok=True)
    saved = os.path.join(suite.args.work, kind + "-saved.bin")
    table = [
        ("byte-identical", "files/payload.bin", 0, None, data),
        ("encoded name", "files/이름 있는.exe", 0, None, b"named"),
        ("301 for a folder", "files/folder", 1, " 301 ", None),
        ("403 for a folder", "files/folder/", 1, " 403 ", None),
        ("404", "files/none.bin", 1, " 404 ", None),
    ]
    for name, path, status, says, content in table:
        if os.path.exists(saved):
            os.remove(saved)
        rc, out = suite.run(suite.args.fetch, base + path, saved)
        ok = rc == status and (says is None or says in out)
        if content is not None:
            with open(saved, "rb") as got:
                ok = ok and got.read() == content
        else:
            ok = ok and not os.path.exists(saved)
        suite.case("%s: fetch %s" % (kind, name), ok, "rc %d: %s" % (rc, out))


def served(suite):
    # The Windows build against one server: what it must match is the verdict, not the server.
    kinds = ["nginx"] if suite.args.windows_site else web_servers.SERVERS
    for kind in kinds:
        root = os.path.join(suite.args.work, kind, "root")
        shutil.rmtree(os.path.join(suite.args.work, kind), ignore_errors=True)
        os.makedirs(root)
        for folder in (suite.args.work, os.path.join(suite.args.work, kind), root):
            os.chmod(folder, 0o755)
        server = web_servers.WebServer(kind, root, os.path.join(suite.args.work, kind, "conf"))
        try:
            check_cases(suite, kind, root, server.base, suite.args.windows_site)
            if not suite.args.windows_site:
                fetch_cases(suite, kind, root, server.base)
        finally:
            server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["make", "served", "windows"])
    for option in ("--site", "--keys", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--fetch")
    parser.add_argument("--windows-site", help="windows: vanto-site.exe, checked against --site")
    parser.add_argument("--wine", help="windows: what runs vanto-site.exe (scripts/wine-run)")
    args = parser.parse_args()
    if args.mode == "windows" and not (args.windows_site and args.wine):
        parser.error("windows needs --windows-site and --wine")
    if args.mode != "windows":
        args.windows_site = None
    if not os.path.exists(args.site):
        parser.error("no Linux build of vanto-site at " + args.site)
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    suite = Suite(args)
    write(os.path.join(args.work, "in", INSTALLER), installer_bytes())
    refusals(suite) if args.mode == "make" else served(suite)
    print("%d passed, %d failed" % (suite.passed, suite.failures))
    return 1 if suite.failures else 0


if __name__ == "__main__":
    sys.exit(main())
