"""Faults of the user's own machine that a case sets up and takes down again: a small disk under
the download folder, the documents folder moved elsewhere, the user's decimal separator."""

import contextlib
import os
import shutil
import subprocess

from harness import CaseFailure

SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
INTERNATIONAL = r"HKCU\Control Panel\International"


def _mount(args):
    done = subprocess.run(["mount"] + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=30, check=False)
    if done.returncode != 0:
        raise CaseFailure(f"mount {' '.join(args)}: {done.stdout.decode(errors='replace')}")


class SmallDisk:
    """A tmpfs of `size` mounted on `folder` for the whole run to see; `grow` frees space. The
    mount is always taken down again, before anything may delete the tree around it."""

    def __init__(self, folder, size):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        _mount(["-t", "tmpfs", "-o", f"size={size},mode=0777", "tmpfs", folder])

    def grow(self, size):
        _mount(["-o", f"remount,size={size}", self.folder])

    def remove(self):
        # A Wine process that still holds a file there must not keep the mount alive.
        if subprocess.run(["umount", self.folder], timeout=30, check=False).returncode != 0:
            subprocess.run(["umount", "-l", self.folder], timeout=30, check=True)


@contextlib.contextmanager
def small_disk(folder, size):
    disk = SmallDisk(folder, size)
    try:
        yield disk
    finally:
        disk.remove()


def _query(run, key, name):
    """The value as (type, data), or None when it is not there."""
    rc = run.wine.run(["reg", "query", key, "/v", name], name="reg-query")
    if rc != 0:
        return None
    for line in run.wine.output_of("reg-query").decode("utf-8", "replace").splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
            return parts[1], parts[2] if len(parts) == 3 else ""
    return None


def _set(run, key, name, kind, data):
    rc = run.wine.run(["reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                      name="reg-add")
    if rc != 0:
        raise CaseFailure(f"reg add {key} {name} failed")


@contextlib.contextmanager
def registry_value(run, key, name, kind, data):
    """The value set for the case, the prefix's own value back afterwards."""
    before = _query(run, key, name)
    _set(run, key, name, kind, data)
    try:
        yield
    finally:
        if before is None:
            run.wine.run(["reg", "delete", key, "/v", name, "/f"], name="reg-delete")
        else:
            _set(run, key, name, before[0], before[1])


@contextlib.contextmanager
def documents_folder(run, windows_path):
    """The user's documents folder moved to `windows_path` (on drive C:) for the case; the run's
    download folder follows it. The folder and what the run left there go afterwards."""
    parts = windows_path.split("\\")
    if parts[0].upper() != "C:":
        raise CaseFailure(f"{windows_path} is not on drive C:")
    unix = run.wine.unix_path(*parts[1:])
    top = run.wine.unix_path(parts[1])
    default_temp = run.temp_dir
    run.temp_dir = os.path.join(unix, "vanto", "Temp")
    try:
        with registry_value(run, SHELL_FOLDERS, "Personal", "REG_EXPAND_SZ", windows_path):
            yield unix
    finally:
        run.temp_dir = default_temp
        shutil.rmtree(top, ignore_errors=True)


def decimal_separator(run, separator):
    """The user's own choice of decimal separator, as the regional settings store it."""
    return registry_value(run, INTERNATIONAL, "sDecimal", "REG_SZ", separator)
