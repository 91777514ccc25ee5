#!/usr/bin/env python3
"""Checks a built vantoup.exe: PE32 for i386 (or PE32+ for x86-64 with --machine x64), the GUI
subsystem, a manifest, a version resource of 1.0.0.0, a nine-image icon, imports of system
DLLs only, terminal-server awareness, the DLL search restricted to the system folder,
large-address-aware (PE32), what makes a release reproducible (no link time stamp, no path of
the checkout inside), the hardening (relocations, NX; in PE32 code NO_SEH, the stack protector and
fortify's checked calls) and the Authenticode signature, if any. Prints one line per check and exits 1 when any fails."""
import argparse
import os
import struct
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
import exe_hardening  # noqa: E402
import exe_signature  # noqa: E402
import exe_update_key  # noqa: E402

# The DLLs that Windows maps from the system folder whatever the search order says (the
# KnownDLLs of the session manager, and ntdll, which every process has before its imports): a
# copy planted beside the exe is never loaded in their place.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "gdi32.dll", "gdiplus.dll",
    "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll",
    "nsi.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
    "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll",
    "ws2_32.dll",
}
# Not a KnownDLL, but bound by the manifest's side-by-side assembly (common controls 6), which
# the loader takes from the system's assembly store, not from beside the exe.
SIDE_BY_SIDE_DLLS = {"comctl32.dll"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, nsections, self.timestamp, _, _, optsize, self.characteristics = \
            struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        self.sections = []
        self.raw = {}
        for i in range(nsections):
            s = opt + optsize + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr))
            self.raw[data[s:s + 8].rstrip(b"\0").decode("ascii", "replace")] = (rawptr, rawsize)

    def section_bytes(self, name):
        if name not in self.raw:
            return None
        at, size = self.raw[name]
        return self.data[at:at + size]

    def off(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("RVA %#x outside the sections" % rva)

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii", "replace")

    def imports(self):
        return list(self.import_table())

    def import_table(self):
        """{DLL name: [function names imported by name]}, as the loader binds them."""
        rva = self.dirs[1][0]
        table = {}
        if not rva:
            return table
        o = self.off(rva)
        width, ordinal = (4, 0x80000000) if self.magic == 0x10B else (8, 1 << 63)
        while True:
            lookup, _, _, name_rva, thunks = struct.unpack_from("<IIIII", self.data, o)
            if not name_rva:
                return table
            functions = table.setdefault(self.cstr(name_rva), [])
            t = self.off(lookup or thunks)
            while True:
                entry = int.from_bytes(self.data[t:t + width], "little")
                if not entry:
                    break
                if not entry & ordinal:
                    functions.append(self.cstr((entry & 0x7FFFFFFF) + 2))
                t += width
            o += 20

    def resources(self):
        """{type id: [(name id, data bytes), ...]} for the first language of each entry."""
        base_rva = self.dirs[2][0]
        if not base_rva:
            return {}
        base = self.off(base_rva)

        def entries(o):
            named, ids = struct.unpack_from("<HH", self.data, o + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, o + 16 + 8 * i)
                yield name, target

        out = {}
        for tid, t in entries(base):
            for nid, n in entries(base + (t & 0x7FFFFFFF)):
                target = n
                while target & 0x80000000:
                    target = next(entries(base + (target & 0x7FFFFFFF)))[1]
                rva, size = struct.unpack_from("<II", self.data, base + target)
                o = self.off(rva)
                out.setdefault(tid, []).append((nid, self.data[o:o + size]))
        return out


def terminal_server_aware(pe):
    return bool(pe.dll_characteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)


def restricts_dll_search(pe):
    """The program asks for the system folder only: kernel32's SetDefaultDllDirectories is bound
    by the loader, so the call it makes is that function and no text that merely names it."""
    table = {dll.lower(): functions for dll, functions in pe.import_table().items()}
    return "SetDefaultDllDirectories" in table.get("kernel32.dll", [])


IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x20
CHECKOUT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def check_reproducible(check, pe):
    check("no link time stamp", pe.timestamp == 0, "time stamp %#x" % pe.timestamp)
    inside = [p for p in (CHECKOUT, os.getcwd()) if p != "/" and p.encode() in pe.data]
    check("no path of the checkout inside", not inside, ", ".join(inside))


def check_large_address_aware(check, pe):
    if pe.magic == 0x10B:
        check("large-address-aware", bool(pe.characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE),
              "characteristics %#x" % pe.characteristics)


def check_update_key(check, pe, key_file, none_wanted):
    points = exe_update_key.points(pe.data)
    found = [exe_update_key.fingerprint(p) for p in points]
    print("update key: " + (", ".join("sha256 " + f for f in found) or "none"))
    if key_file:
        want = exe_update_key.fingerprint(exe_update_key.key_file_point(key_file))
        check("the update key of " + key_file + " built in", found == [want],
              "want sha256 " + want)
    elif none_wanted:
        check("no update key built in", not found)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("exe")
    ap.add_argument("--machine", choices=["x86", "x64"], default="x86")
    ap.add_argument("--symbols", help="the unstripped link output that EXE was stripped from")
    ap.add_argument("--ca", help="CA file that the signature must verify against")
    ap.add_argument("--signature-only", action="store_true",
                    help="check the Authenticode signature alone (the rest is the release's)")
    key = ap.add_mutually_exclusive_group()
    key.add_argument("--update-key", help="the public key file whose key must be built in")
    key.add_argument("--no-update-key", action="store_true", help="no update key may be built in")
    args = ap.parse_args()
    with open(args.exe, "rb") as f:
        data = f.read()
    pe = Pe(data)
    symbols_pe = None
    if args.symbols:
        with open(args.symbols, "rb") as f:
            symbols_pe = Pe(f.read())
    res = pe.resources()
    results = []

    def check(what, ok, detail=""):
        results.append(ok)
        print(("ok    " if ok else "FAIL  ") + what + (": " + detail if detail else ""))

    if args.signature_only:
        exe_signature.check_signature(check, pe, args.exe, args.ca)
        return 0 if results and all(results) else 1
    want = (0x14C, 0x10B) if args.machine == "x86" else (0x8664, 0x20B)
    check("PE32 for i386" if args.machine == "x86" else "PE32+ for x86-64",
          (pe.machine, pe.magic) == want, "machine %#x, magic %#x" % (pe.machine, pe.magic))
    check("GUI subsystem", pe.subsystem == 2, "subsystem %d" % pe.subsystem)
    dlls = pe.imports()
    foreign = [d for d in dlls if d.lower() not in KNOWN_DLLS | SIDE_BY_SIDE_DLLS]
    check("imports only KnownDLLs (and comctl32 side by side)", not foreign,
          ", ".join(foreign or dlls))
    check("terminal-server aware", terminal_server_aware(pe),
          "DllCharacteristics %#x" % pe.dll_characteristics)
    check("DLLs from the system folder only", restricts_dll_search(pe))
    manifest = b"".join(d for _, d in res.get(RT_MANIFEST, []))
    check("manifest with common controls 6 and asInvoker",
          b"Microsoft.Windows.Common-Controls" in manifest and b"6.0.0.0" in manifest
          and b"asInvoker" in manifest)
    version = b"".join(d for _, d in res.get(RT_VERSION, []))
    sig = version.find(struct.pack("<I", 0xFEEF04BD))
    ok = False
    detail = "no VS_FIXEDFILEINFO"
    if sig >= 0:
        fms, fls, pms, pls = struct.unpack_from("<IIII", version, sig + 8)
        detail = "file %d.%d.%d.%d, product %d.%d.%d.%d" % (
            fms >> 16, fms & 0xFFFF, fls >> 16, fls & 0xFFFF, pms >> 16, pms & 0xFFFF, pls >> 16,
            pls & 0xFFFF)
        ok = (fms, fls, pms, pls) == (0x10000, 0, 0x10000, 0)
    check("version resource 1.0.0.0", ok, detail)
    groups = res.get(RT_GROUP_ICON, [])
    count = struct.unpack_from("<H", groups[0][1], 4)[0] if groups else 0
    check("application icon with nine images", count == 9, "%d images" % count)
    check_large_address_aware(check, pe)
    check_reproducible(check, pe)
    exe_hardening.check_flags(check, pe)
    # The program seeds its stack guard itself: libssp's seeding would load a CryptoAPI provider,
    # some 10 MiB, in every run.
    crypto_api = b"CryptAcquireContext" in data
    check("stack guard seeded without CryptoAPI", not crypto_api,
          "imports CryptAcquireContext" if crypto_api else "")
    if pe.magic == 0x10B:
        exe_hardening.check_code(check, pe, args.exe, args.symbols, symbols_pe)
    exe_signature.check_signature(check, pe, args.exe, args.ca)
    check_update_key(check, pe, args.update_key, args.no_update_key)
    print("size: %d bytes" % len(data))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
