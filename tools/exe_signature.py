"""The Authenticode signature of an exe, as osslsigncode reads it: who signed (subject, issuer),
with which digest, whether the digest still matches the file and, given a CA file, whether the
signature verifies against it."""
import re
import shutil
import subprocess

SECURITY = 4


def field(text, name):
    m = re.search(r"^\s*%s\s*:\s*(.*?)\s*$" % re.escape(name), text, re.M)
    return m.group(1) if m else ""


def signer(text):
    """Subject and issuer of the leaf: the first signer after "Signer's certificate"."""
    at = text.find("Signer's certificate")
    part = text[at:] if at >= 0 else ""
    return field(part, "Subject"), field(part, "Issuer")


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
