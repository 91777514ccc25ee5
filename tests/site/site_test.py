#!/usr/bin/env python3
"""vanto-site against its own sites: the refusals of `make`, and `check` and the client's download
against sites served by nginx, apache2 and lighttpd on loopback.

usage: site_test.py make|served --site TOOL --fetch VANTO_FETCH --keys DIR --work DIR"""

import argparse
import os
import shutil
import subprocess
import sys

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
    ("installer named as the info file", {"installer": "NEWVANTO.INI"},
     "the same as the information file's"),
    ("info text with a quote", {"--info-text": "'반토"}, 'Infotxt "\'반토": begins with a quote'),
    ("long info text", {"--info-text": "x" * 2048}, "Infotxt (2048 characters)"),
    ("alias with a tab", {"--local-alias": "vanto\t"}, "ends with a tab"),
    ("missing installer", {"installer": None}, "cannot be read"),
    ("empty installer", {"installer": "empty.exe"}, ": is empty"),
    ("public key as signing key", {"--key": "test-public.pem"}, 'key "'),
    ("P-384 key", {"--key": "p384-private.pem"}, "not an ECDSA P-256"),
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
    rc, out = suite.make(os.path.join(work, "out-korean"),
                         extra=["--info-text", "반토 2.0 업그레이드"])
    with open(os.path.join(work, "out-korean", "newvanto.ini"), "rb") as info:
        head = info.read(2)
    suite.case("Korean text makes a UTF-16 file", rc == 0 and head == b"\xff\xfe", out)


def served_site(suite, root, base, folder):
    """A site made by make in root/folder, for base + folder + "/"."""
    suite.server_dir = base + folder + "/"
    rc, out = suite.make(os.path.join(root, folder))
    if rc != 0:
        raise RuntimeError("make failed: " + out)
    return os.path.join(root, folder), suite.server_dir


def check_cases(suite, kind, root, base):
    """check against sites on one server; each folder is one site."""
    site, url = served_site(suite, root, base, "good")
    rc, out = suite.check(url)
    suite.case(kind + ": good site upgrades",
               rc == 0 and "ExeSig verifies" in out and "upgrades to" in out
               and "GET /good/%s HTTP/1.1" % INSTALLER in out, out)
    rc, out = suite.run(suite.args.site, "check", url, "--installed", "2.0", "--expect-current")
    suite.case(kind + ": current client finds nothing to do", rc == 0 and "nothing to do" in out,
               out)
    rc, out = suite.run(suite.args.site, "check", url, "--installed", "1.5", "--expect-current")
    suite.case(kind + ": an upgrade is not current", rc == 1, out)
    rc, out = suite.run(suite.args.site, "check", url, "--installed", "1.5",
                        "--info-name", "other.ini")
    suite.case(kind + ": missing information file", rc == 1 and "404" in out, out)

    site, url = served_site(suite, root, base, "missing")
    os.remove(os.path.join(site, INSTALLER))
    rc, out = suite.check(url)
    suite.case(kind + ": installer missing", rc == 1 and "404" in out and "box" in out, out)

    site, url = served_site(suite, root, base, "moved")
    os.remove(os.path.join(site, INSTALLER))
    os.mkdir(os.path.join(site, INSTALLER))
    rc, out = suite.check(url)
    suite.case(kind + ": 301 for the installer is not followed",
               rc == 1 and " 301 " in out and out.count("  > GET") == 2, out)

    site, url = served_site(suite, root, base, "truncated")
    with open(os.path.join(site, INSTALLER), "r+b") as installer:
        installer.truncate(1000)
    rc, out = suite.check(url)
    suite.case(kind + ": truncated installer", rc == 1 and SIGNATURE_BOX in out, out)

    site, url = served_site(suite, root, base, "relabelled")
    info_path = os.path.join(site, "newvanto.ini")
    with open(info_path, "rb") as info:
        text = info.read().replace(b"VER=2.0", b"VER=2.1")
    write(info_path, text)
    rc, out = suite.check(url)
    suite.case(kind + ": signature over another version", rc == 1 and SIGNATURE_BOX in out, out)


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
    for kind in web_servers.SERVERS:
        root = os.path.join(suite.args.work, kind, "root")
        shutil.rmtree(os.path.join(suite.args.work, kind), ignore_errors=True)
        os.makedirs(root)
        for folder in (suite.args.work, os.path.join(suite.args.work, kind), root):
            os.chmod(folder, 0o755)
        server = web_servers.WebServer(kind, root, os.path.join(suite.args.work, kind, "conf"))
        try:
            check_cases(suite, kind, root, server.base)
            fetch_cases(suite, kind, root, server.base)
        finally:
            server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["make", "served"])
    for option in ("--site", "--fetch", "--keys", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    suite = Suite(args)
    write(os.path.join(args.work, "in", INSTALLER), installer_bytes())
    refusals(suite) if args.mode == "make" else served(suite)
    print("%d passed, %d failed" % (suite.passed, suite.failures))
    return 1 if suite.failures else 0


if __name__ == "__main__":
    sys.exit(main())
