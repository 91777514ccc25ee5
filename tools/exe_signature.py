"""The Authenticode signature of an exe, as osslsigncode reads it and as its DER says: who signed
(subject, issuer), with which digest, whether the digest still matches the file and the signer's
key made the signature, that nothing rides along in it, and, given a CA file, whether the
signature verifies against it."""
import base64
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # keep the source tree clean
from der import children, content, der, der_length, element  # noqa: E402

SECURITY = 4
CODE_SIGNING = bytes.fromhex("06082b06010505070303")  # OID 1.3.6.1.5.5.7.3.3, encoded
EXTENDED_KEY_USAGE = bytes.fromhex("0603551d25")  # OID 2.5.29.37
MESSAGE_DIGEST = bytes.fromhex("06092a864886f70d010904")  # OID 1.2.840.113549.1.9.4
# The unauthenticated attributes a signature may carry: the time stamp's countersignatures
# (PKCS#9 and RFC 3161). Anything else there, a nested signature above all, is not digested.
TIME_STAMPS = {bytes.fromhex("06092a864886f70d010906"), bytes.fromhex("060a2b060104018237030301")}
# Where osslsigncode looks for CAs by default: the time-stamping authorities' roots are there.
SYSTEM_CAS = "/etc/ssl/certs/ca-certificates.crt"


def field(text, name):
    m = re.search(r"^\s*%s\s*:\s*(.*?)\s*$" % re.escape(name), text, re.M)
    return m.group(1) if m else ""


def signer(text):
    """Subject and issuer of the leaf: the first signer after "Signer's certificate"."""
    at = text.find("Signer's certificate")
    part = text[at:] if at >= 0 else ""
    return field(part, "Subject"), field(part, "Issuer")


def signed_data(data, at):
    """The parts of the PKCS#7 ContentInfo at `at`: {"content": the signed ContentInfo,
    "certificates": [...], "crls": [...], "signers": [SignerInfo, ...]}."""
    parts = {"content": None, "certificates": [], "crls": [], "signers": []}
    for part in children(data, children(data, children(data, at)[1])[0]):
        tag = data[part]
        if tag == 0x30 and parts["content"] is None:
            parts["content"] = part
        elif tag == 0xA0:
            parts["certificates"] = children(data, part)
        elif tag == 0xA1:
            parts["crls"] = children(data, part)
        elif tag == 0x31:
            parts["signers"] = children(data, part)
    return parts


def unauthenticated(data, signer_info):
    """The type OIDs (encoded) of the SignerInfo's unauthenticated attributes."""
    parts = children(data, signer_info)
    if data[parts[-1]] != 0xA1:
        return []
    return [element(data, children(data, attribute)[0])
            for attribute in children(data, parts[-1])]


def tbs_fields(data, cert):
    """serial, signature algorithm, issuer, validity, subject, ... of a certificate."""
    tbs = children(data, children(data, cert)[0])
    return tbs[1:] if data[tbs[0]] == 0xA0 else tbs  # the version


def signer_certificate(data, signer_info, certificates):
    """The certificate whose issuer and serial the SignerInfo names."""
    issuer_at, serial_at = children(data, children(data, signer_info)[1])
    want = (element(data, serial_at), element(data, issuer_at))
    for cert in certificates:
        fields = tbs_fields(data, cert)
        if (element(data, fields[0]), element(data, fields[2])) == want:
            return cert
    return None


def for_code_signing(data, cert):
    """The certificate's extended key usage lists code signing among its purposes: the OID
    itself, not another one whose encoding happens to hold its bytes."""
    for part in tbs_fields(data, cert):
        if data[part] != 0xA3:
            continue
        for extension in children(data, children(data, part)[0]):
            fields = children(data, extension)
            if element(data, fields[0]) == EXTENDED_KEY_USAGE:
                purposes = der(data, fields[-1])[1]  # the SEQUENCE inside the OCTET STRING
                return CODE_SIGNING in [element(data, oid) for oid in children(data, purposes)]
    return False


def off_the_chain(data, cert, certificates):
    """The certificates that issue none on the way up from the signer's certificate (a
    cross-certified way included): anything else rides along unsigned."""
    def names(c):
        fields = tbs_fields(data, c)
        return element(data, fields[2]), element(data, fields[4])  # issuer, subject

    issuers = {names(cert)[0]}
    left = [c for c in certificates if c != cert]
    grown = True
    while grown:
        grown = False
        for c in [c for c in left if names(c)[1] in issuers]:
            left.remove(c)
            issuers.add(names(c)[0])
            grown = True
    return left


def one_signature(data, offset):
    """(alone, for code signing, time stamped, detail) of the table at `offset`: one signature
    by one signer, carrying the signer's chain and nothing else, with no unauthenticated
    attribute but one time stamp; the signer's certificate for code signing."""
    try:
        parts = signed_data(data, offset + 8)
        if len(parts["signers"]) != 1:
            return False, False, False, "%d signers" % len(parts["signers"])
        signer_info = parts["signers"][0]
        cert = signer_certificate(data, signer_info, parts["certificates"])
        code_signing = cert is not None and for_code_signing(data, cert)
        attributes = unauthenticated(data, signer_info)
        extra = [oid.hex() for oid in attributes if oid not in TIME_STAMPS]
        if extra or len(attributes) > 1:
            return False, code_signing, False, "unauthenticated attributes " + ", ".join(
                extra or [oid.hex() for oid in attributes])
        if cert is None:
            return False, False, False, "no certificate of the signer"
        stray = off_the_chain(data, cert, parts["certificates"])
        if stray or parts["crls"]:
            return False, code_signing, False, "%d certificates off the signer's chain, %d CRLs" \
                % (len(stray), len(parts["crls"]))
        return True, code_signing, bool(attributes), "one signer"
    except (ValueError, IndexError) as error:
        return False, False, False, str(error)


def openssl(*args, stdin=None):
    return subprocess.run(["openssl", *args], input=stdin, capture_output=True)


def made_by_signer(data, offset):
    """(ok, detail): the signature value verifies under the signer certificate's own key, over
    authenticated attributes whose message digest is that of the signed content (which holds
    the file's digest). Whom to trust aside, this is what makes the signature the signer's."""
    try:
        parts = signed_data(data, offset + 8)
        signer_info = parts["signers"][0]
        cert = signer_certificate(data, signer_info, parts["certificates"])
        fields = children(data, signer_info)
        attributes = next(f for f in fields if data[f] == 0xA0)
        value = next(f for f in fields if data[f] == 0x04)
        digests = [content(data, children(data, children(data, a)[1])[0])
                   for a in children(data, attributes)
                   if element(data, children(data, a)[0]) == MESSAGE_DIGEST]
        signed = children(data, children(data, parts["content"])[1])[0]
        if cert is None or digests != [hashlib.sha256(content(data, signed)).digest()]:
            return False, "the authenticated message digest is not that of the signed content"
    except (ValueError, IndexError, StopIteration) as error:
        return False, str(error) or "incomplete signature"
    key = openssl("x509", "-inform", "DER", "-noout", "-pubkey", stdin=element(data, cert))
    with tempfile.TemporaryDirectory() as work:
        files = {}
        # What the signer signed: the attributes as a SET, not under their context tag.
        for name, blob in (("key", key.stdout), ("value", content(data, value)),
                           ("attributes", b"\x31" + element(data, attributes)[1:])):
            files[name] = os.path.join(work, name)
            with open(files[name], "wb") as f:
                f.write(blob)
        run = openssl("dgst", "-sha256", "-verify", files["key"], "-signature", files["value"],
                      files["attributes"])
    return run.returncode == 0, (run.stdout + run.stderr).decode(errors="replace").strip()


def carried_pem(data, offset):
    """The certificates that the signature carries, as PEM; none when it cannot be read."""
    try:
        certificates = signed_data(data, offset + 8)["certificates"]
    except (ValueError, IndexError):
        return ""
    out = []
    for cert in certificates:
        text = base64.encodebytes(element(data, cert)).decode()
        out.append("-----BEGIN CERTIFICATE-----\n%s-----END CERTIFICATE-----\n" % text)
    return "".join(out)


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


def verify(exe, ca, time_stamp_cas):
    """osslsigncode's verification: its output and exit status."""
    tool = shutil.which("osslsigncode")
    command = [tool, "verify", "-in", exe, "-TSA-CAfile", time_stamp_cas]
    run = subprocess.run(command + (["-CAfile", ca] if ca else []), capture_output=True, text=True)
    return run.stdout + run.stderr, run.returncode


def check_signature(check, pe, exe, ca):
    if not pe.dirs[SECURITY][1]:
        print("signature: unsigned")
        if ca:
            check("signed and verified against " + ca, False, "unsigned")
        return
    if not shutil.which("osslsigncode"):
        check("signature readable", False, "osslsigncode not found")
        return
    offset = pe.dirs[SECURITY][0]
    whole, detail = table_is_whole(pe)
    check("certificate table holds the signature alone", whole, detail)
    alone, code_signing, time_stamped, detail = one_signature(pe.data, offset)
    check("one signature, its signer's chain and nothing unauthenticated but a time stamp", alone,
          detail)
    check("signer's certificate is for code signing (extended key usage)", code_signing)
    made, detail = made_by_signer(pe.data, offset)
    check("signature made with the signer certificate's key", made, detail)
    # A time stamp is judged against the CA given, or the certificates the signature carries,
    # and the system's list, where time-stamping authorities' roots usually are.
    with tempfile.TemporaryDirectory() as work:
        anchors = os.path.join(work, "time-stamp-cas.pem")
        with open(anchors, "w") as f:
            if ca:
                with open(ca) as given:
                    f.write(given.read())
            else:
                f.write(carried_pem(pe.data, offset))
            if os.path.exists(SYSTEM_CAS):
                with open(SYSTEM_CAS) as system:
                    f.write(system.read())
        out, status = verify(exe, ca, anchors)
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
    if time_stamped:
        # An attribute under a time stamp's name that is no valid time stamp is a blob like any.
        check("time stamp verifies", "Timestamp Server Signature verification: ok" in out,
              field(out, "Timestamp Server Signature verification") or "no time stamp read")
    if ca:
        # Every line read: a verification that says ok beside a mismatch or a failure is none.
        bad = [line.strip() for line in out.splitlines()
               if re.search(r"MISMATCH|failed|[Ee]rror", line)]
        check("signature verifies against " + ca,
              status == 0 and "Signature verification: ok" in out and not bad,
              "; ".join(bad) or field(out, "Signature verification")
              or "osslsigncode exit %d" % status)
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
