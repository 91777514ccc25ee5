"""The update key built into an exe, found as what it is: the one uncompressed P-256 point in the
image (64 random bytes lie on the curve with a chance of about 2^-256). Its fingerprint is the
SHA-256 of the key's DER SubjectPublicKeyInfo, as `openssl pkey -pubin -outform DER | sha256sum`
gives it for the vendor's key file.

  exe_update_key.py KEY.pem   prints the fingerprint of a key file"""
import hashlib
import subprocess
import sys

P = 2**256 - 2**224 + 2**192 + 2**96 - 1
B = 0x5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B
SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")


def on_curve(point):
    x = int.from_bytes(point[1:33], "big")
    y = int.from_bytes(point[33:65], "big")
    return x < P and y < P and (y * y - (x * x * x - 3 * x + B)) % P == 0


def points(data):
    """Every uncompressed P-256 point in `data`, each once."""
    found = []
    at = data.find(b"\x04")
    while 0 <= at <= len(data) - 65:
        point = bytes(data[at:at + 65])
        if on_curve(point) and point not in found:
            found.append(point)
        at = data.find(b"\x04", at + 1)
    return found


def fingerprint(point):
    return hashlib.sha256(SPKI_PREFIX + point).hexdigest()


def key_file_point(path):
    """The uncompressed point of a PEM public key file (openssl converts a compressed one)."""
    der = subprocess.run(["openssl", "ec", "-pubin", "-in", path, "-outform", "DER",
                          "-conv_form", "uncompressed"], check=True, capture_output=True).stdout
    if len(der) != 91 or not der.startswith(SPKI_PREFIX):
        raise ValueError("%s is not an ECDSA P-256 public key" % path)
    return der[len(SPKI_PREFIX):]


if __name__ == "__main__":
    try:
        print(fingerprint(key_file_point(sys.argv[1])))
    except (subprocess.CalledProcessError, ValueError) as error:
        sys.exit("exe_update_key: %s: %s" % (sys.argv[1], error))
