"""The Authenticode signature of an exe, as osslsigncode reads it: who signed (subject, issuer),
with which digest, whether the digest still matches the file and, given a CA file, whether the
signature verifies against it."""
import re
import shutil
import struct
import subprocess
import sys

SECURITY = 4
CODE_SIGNING = bytes.fromhex("06082b06010505070303")  # OID 1.3.6.1.5.5.7.3.3, encoded
EXTENDED_KEY_USAGE = bytes.fromhex("0603551d25")  # OID 2.5.29.37
# The unauthenticated attributes a signature may carry: the time stamp's countersignatures
# (PKCS#9 and RFC 3161). Anything else there, a nested signature above all, is not digested.
TIME_STAMPS = {bytes.fromhex("06092a864886f70d010906"), bytes.fromhex("060a2b060104018237030301")}


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


def der(data, at):
    """(tag, start of the content, end of the element) of the DER element at `at`."""
    length = der_length(data, at)
    if not length or at + length > len(data):
        raise ValueError("malformed DER at %d" % at)
    first = data[at + 1]
    header = 2 + (first & 0x7F if first >= 0x80 else 0)
    return data[at], at + header, at + length


def children(data, at):
    tag, start, end = der(data, at)
    out = []
    while start < end:
        out.append(start)
        start = der(data, start)[2]
    if start != end:
        raise ValueError("element at %d overruns its parent" % start)
    return out


def signed_data(data, at):
    """The SignerInfos and certificates of the PKCS#7 ContentInfo at `at`."""
    content = children(data, children(data, at)[1])[0]
    signer_infos, certificates = [], []
    for part in children(data, content):
        tag = data[part]
        if tag == 0xA0:
            certificates = children(data, part)
        elif tag == 0x31:
            signer_infos = children(data, part)
    return signer_infos, certificates


def unauthenticated(data, signer_info):
    """The type OIDs (encoded) of the SignerInfo's unauthenticated attributes."""
    parts = children(data, signer_info)
    if data[parts[-1]] != 0xA1:
        return []
    out = []
    for attribute in children(data, parts[-1]):
        oid = children(data, attribute)[0]
        out.append(bytes(data[oid:der(data, oid)[2]]))
    return out


def signer_certificate(data, signer_info, certificates):
    """The certificate whose issuer and serial the SignerInfo names."""
    issuer_serial = children(data, signer_info)[1]
    issuer_at, serial_at = children(data, issuer_serial)
    want_issuer = bytes(data[issuer_at:der(data, issuer_at)[2]])
    want_serial = bytes(data[serial_at:der(data, serial_at)[2]])
    for cert in certificates:
        tbs = children(data, children(data, cert)[0])
        tbs = tbs[1:] if data[tbs[0]] == 0xA0 else tbs  # the version
        serial = bytes(data[tbs[0]:der(data, tbs[0])[2]])
        issuer = bytes(data[tbs[2]:der(data, tbs[2])[2]])
        if (serial, issuer) == (want_serial, want_issuer):
            return cert
    return None


def for_code_signing(data, cert):
    """The certificate's extended key usage names code signing."""
    tbs = children(data, children(data, cert)[0])
    for part in tbs:
        if data[part] != 0xA3:
            continue
        for extension in children(data, children(data, part)[0]):
            fields = children(data, extension)
            if bytes(data[fields[0]:der(data, fields[0])[2]]) == EXTENDED_KEY_USAGE:
                value = fields[-1]
                _, start, end = der(data, value)
                return CODE_SIGNING in bytes(data[start:end])
    return False


def one_signature(data, offset):
    """(alone, for code signing, detail) of the table at `offset`: one signature by one signer
    and no unauthenticated attribute but a time stamp; the signer's certificate for code
    signing."""
    try:
        signer_infos, certificates = signed_data(data, offset + 8)
        if len(signer_infos) != 1:
            return False, False, "%d signers" % len(signer_infos)
        extra = [oid.hex() for oid in unauthenticated(data, signer_infos[0])
                 if oid not in TIME_STAMPS]
        cert = signer_certificate(data, signer_infos[0], certificates)
        code_signing = cert is not None and for_code_signing(data, cert)
        if extra:
            return False, code_signing, "unauthenticated attributes " + ", ".join(extra)
        return True, code_signing, "one signer"
    except (ValueError, IndexError) as error:
        return False, False, str(error)


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
    ok = length == size and signature > 0 and padded == size and \
        not any(data[offset + 8 + signature:offset + size])
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
    alone, code_signing, detail = one_signature(pe.data, pe.dirs[SECURITY][0])
    check("one signature, nothing unauthenticated but a time stamp", alone, detail)
    check("signer's certificate is for code signing (extended key usage)", code_signing)
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
        # Every line read: a verification that says ok beside a mismatch or a failure is none.
        bad = [line.strip() for line in out.splitlines()
               if re.search(r"MISMATCH|failed|[Ee]rror", line)]
        check("signature verifies against " + ca,
              run.returncode == 0 and "Signature verification: ok" in out and not bad,
              "; ".join(bad) or field(out, "Signature verification")
              or "osslsigncode exit %d" % run.returncode)
    else:
        print("signature: not checked against a CA (give --ca FILE)")


if __name__ == "__main__":
    # exe_signature.py SIGNED.exe: the signer's subject, as the signature names it, when its
    # certificate is for code signing.
    with open(sys.argv[1], "rb") as f:
        image = f.read()
    pe_at = struct.unpack_from("<I", image, 0x3C)[0]
    magic = struct.unpack_from("<H", image, pe_at + 24)[0]
    table = struct.unpack_from("<I", image, pe_at + 24 + (96 if magic == 0x10B else 112) + 8 * SECURITY)[0]
    if not table or not one_signature(image, table)[1]:
        sys.exit("exe_signature: the signer's certificate in %s is not for code signing" % sys.argv[1])
    found = subprocess.run(["osslsigncode", "verify", "-in", sys.argv[1]], capture_output=True,
                           text=True)
    subject, _ = signer(found.stdout + found.stderr)
    if not subject:
        sys.exit("exe_signature: no signer in " + sys.argv[1])
    print(subject)
