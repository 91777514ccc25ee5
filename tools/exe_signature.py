"""The Authenticode signature of an exe, as osslsigncode reads it: who signed (subject, issuer),
with which digest, whether the digest still matches the file and, given a CA file, whether the
signature verifies against it."""
import re
import shutil
import struct
import subprocess
import sys

SECURITY = 4


def field(text, name):
    m = re.search(r"^\s*%s\s*:\s*(.*?)\s*$" % re.escape(name), text, re.M)
    return m.group(1) if m else ""


def signer(text):
    """Subject and issuer of the leaf: the first signer after "Signer's certificate"."""
    at = text.find("Signer's certificate")
    part = text[at:] if at >= 0 else ""
    return field(part, "Subject"), field(part, "Issuer")


def der_length(data, at):
    """The length of the DER element at `at`, header included; 0 when it is not one."""
    if at + 2 > len(data):
        return 0
    first = data[at + 1]
    if first < 0x80:
        return 2 + first
    count = first & 0x7F
    if count == 0 or count > 4 or at + 2 + count > len(data):
        return 0
    return 2 + count + int.from_bytes(data[at + 2:at + 2 + count], "big")


def table_is_whole(pe):
    """The certificate table is one entry at the end of the file, holding the signature and at
    most the padding to eight bytes: nothing can ride along inside it."""
    offset, size = pe.dirs[SECURITY]
    data = pe.data
    if offset + size != len(data) or size < 8:
        return False, "table %d+%d, file %d bytes" % (offset, size, len(data))
    length = struct.unpack_from("<I", data, offset)[0]
    signature = der_length(data, offset + 8)
    padded = (8 + signature + 7) // 8 * 8
    ok = length == size and signature > 0 and padded == size
    return ok, "entry %d bytes, signature %d, table %d" % (length, signature, size)


def check_signature(check, pe, exe, ca):
    if not pe.dirs[SECURITY][1]:
        print("signature: unsigned")
        if ca:
            check("signed and verified against " + ca, False, "unsigned")
        return
    tool = shutil.which("osslsigncode")
    if not tool:
        check("signature readable", False, "osslsigncode not found")
        return
    command = [tool, "verify", "-in", exe] + (["-CAfile", ca] if ca else [])
    run = subprocess.run(command, capture_output=True, text=True)
    out = run.stdout + run.stderr
    whole, detail = table_is_whole(pe)
    check("certificate table holds the signature alone", whole, detail)
    subject, issuer = signer(out)
    digest = field(out, "Message digest algorithm")
    print("signature: signed by %s, issued by %s, digest %s" % (subject or "?", issuer or "?",
                                                                 digest or "?"))
    # osslsigncode writes "MISMATCH!!!" after a calculated digest that differs.
    current = field(out, "Current message digest").split(" ")[0]
    calculated = field(out, "Calculated message digest").split(" ")[0]
    check("signature's digest matches the file", bool(current) and current == calculated,
          "signed %s, file %s" % (current or "?", calculated or "?"))
    check("signature digest SHA-256", digest == "SHA256", digest)
    if ca:
        check("signature verifies against " + ca,
              run.returncode == 0 and "Signature verification: ok" in out,
              field(out, "Signature verification") or "osslsigncode exit %d" % run.returncode)
    else:
        print("signature: not checked against a CA (give --ca FILE)")


if __name__ == "__main__":
    # exe_signature.py SIGNED.exe: the signer's subject, as the signature names it.
    found = subprocess.run(["osslsigncode", "verify", "-in", sys.argv[1]], capture_output=True,
                           text=True)
    subject, _ = signer(found.stdout + found.stderr)
    if not subject:
        sys.exit("exe_signature: no signer in " + sys.argv[1])
    print(subject)
