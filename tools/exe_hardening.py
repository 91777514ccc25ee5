"""The hardening a Windows security scanner looks for, read from a built exe: the header flags,
the load-configuration directory, and in the code of a PE32 image the stack protector's checks,
fortify's checked calls and the absence of any SEH registration (which NO_SEH promises).

The code is read through the cross binutils' objdump and nm; a check that cannot run fails."""
import collections
import re
import shutil
import subprocess

IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x40
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x100
IMAGE_DLLCHARACTERISTICS_NO_SEH = 0x400
LOAD_CONFIG = 10
BASE_RELOCATIONS = 5
# Fewer than this many guarded frames would be libssp's own code, not the program compiled with
# the protector: the program has about ninety.
MIN_GUARDED_FRAMES = 10

# AT&T syntax: the destination is the last operand; a pop to memory writes too.
SEH_WRITE = re.compile(r"(,%fs:0x0\s*$)|(\tpop[lw]?\s+%fs:0x0\s*$)")
GUARD_CHECK = re.compile(r"\tsub\s+0x([0-9a-f]+),%e[a-z]{2}\s*$")
BRANCH_IF_CHANGED = re.compile(r"\tjne\s")
CALL = re.compile(r"\tcall\s+0x([0-9a-f]+)\s*$")
CHK_FUNCTION = re.compile(r"^_*(\w+_chk)$")


def tool(name, *args):
    path = shutil.which("i686-w64-mingw32-" + name)
    if not path:
        raise RuntimeError("i686-w64-mingw32-%s not found (binutils-mingw-w64-i686)" % name)
    return subprocess.run([path, *args], check=True, capture_output=True, text=True).stdout


def code_lines(exe):
    return tool("objdump", "-d", "--no-show-raw-insn", exe).splitlines()


def seh_writes(lines):
    return [line.strip() for line in lines if SEH_WRITE.search(line)]


def guarded_frames(lines):
    """How many frames compare their canary with the most used guard before returning."""
    guards = collections.Counter()
    for line, after in zip(lines, lines[1:]):
        m = GUARD_CHECK.search(line)
        if m and BRANCH_IF_CHANGED.search(after):
            guards[m.group(1)] += 1
    return guards.most_common(1)[0][1] if guards else 0


def checked_calls(lines, symbols_exe):
    """{name: calls} for fortify's __*_chk functions linked into the image (the stack
    protector's own are not fortify's)."""
    chk = {}
    for line in tool("nm", "--defined-only", symbols_exe).splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in "Tt":
            m = CHK_FUNCTION.match(parts[2])
            if m and not m.group(1).startswith("stack_chk"):
                chk[int(parts[0], 16)] = m.group(1)
    calls = collections.Counter()
    for line in lines:
        m = CALL.search(line)
        if m and int(m.group(1), 16) in chk:
            calls[chk[int(m.group(1), 16)]] += 1
    return calls


def same_code(pe, symbols_pe):
    """The symbols come from the link output that this image was stripped from."""
    return pe.section_bytes(".text") == symbols_pe.section_bytes(".text")


def check_flags(check, pe):
    dyn = pe.dll_characteristics
    check("relocations and DYNAMIC_BASE",
          bool(dyn & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) and pe.dirs[BASE_RELOCATIONS][1] > 0,
          "DllCharacteristics %#x, relocations %d bytes" % (dyn, pe.dirs[BASE_RELOCATIONS][1]))
    check("NX_COMPAT", bool(dyn & IMAGE_DLLCHARACTERISTICS_NX_COMPAT), "DllCharacteristics %#x" % dyn)
    rva, size = pe.dirs[LOAD_CONFIG]
    if rva:
        # Present: it must at least be long enough to hold the security cookie's address.
        o = pe.off(rva)
        declared = int.from_bytes(pe.data[o:o + 4], "little")
        cookie_at = 0x3C if pe.magic == 0x10B else 0x58
        width = 4 if pe.magic == 0x10B else 8
        cookie = int.from_bytes(pe.data[o + cookie_at:o + cookie_at + width], "little") \
            if declared >= cookie_at + width else 0
        check("load-configuration directory with a security cookie", cookie != 0,
              "%d bytes, cookie at %#x" % (declared, cookie))
    else:
        print("load-configuration directory: none (GNU ld makes none; no SafeSEH table, no "
              "Control Flow Guard)")


def check_code(check, pe, exe, symbols_exe, symbols_pe):
    """PE32 only: the shipped build. NO_SEH is asserted together with its premise."""
    try:
        lines = code_lines(exe)
    except (RuntimeError, subprocess.CalledProcessError) as error:
        check("code readable by objdump", False, str(error))
        return
    writes = seh_writes(lines)
    check("NO_SEH, and no SEH handler registered (no write to %fs:0)",
          bool(pe.dll_characteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH) and not writes,
          "DllCharacteristics %#x%s" % (pe.dll_characteristics,
                                        "; " + " | ".join(writes[:3]) if writes else ""))
    frames = guarded_frames(lines)
    check("stack protector", frames >= MIN_GUARDED_FRAMES,
          "%d frames check their canary" % frames)
    if not symbols_exe:
        print("fortify: not checked (give --symbols with the unstripped link output)")
        return
    if not same_code(pe, symbols_pe):
        check("--symbols is this image's link output", False, "the .text sections differ")
        return
    calls = checked_calls(lines, symbols_exe)
    check("_FORTIFY_SOURCE (checked calls)", sum(calls.values()) > 0,
          ", ".join("%s x%d" % kv for kv in sorted(calls.items())) or "none")
