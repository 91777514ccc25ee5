#!/usr/bin/env bash
# Prints the test signatures of installer_signature_test.cpp (TEST KEYS ONLY). Run it from this
# folder to regenerate them after a change of the keys or of the sample installers; ECDSA signing
# is randomised, so every run prints different, equally valid signatures.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The sample installers of the tests: SIZE bytes of xorshift32 from SEED (SampleInstaller()).
sample_installer() {
  python3 -c '
import sys
size, state = int(sys.argv[1]), int(sys.argv[2])
out = bytearray()
for _ in range(size):
    state ^= (state << 13) & 0xFFFFFFFF
    state ^= state >> 17
    state ^= (state << 5) & 0xFFFFFFFF
    out.append(state & 0xFF)
sys.stdout.buffer.write(out)' "$1" "$2"
}

# ExeSig for KEY over "vanto-update-v2" LF VERSION LF EXEDIR LF followed by the bytes of FILE;
# with EXEDIR "-", over the earlier message "vanto-update-v1" LF VERSION LF and the bytes.
exe_sig() {
  local key=$1 version=$2 exe_dir=$3 file=$4
  {
    if [ "$exe_dir" = - ]; then
      printf 'vanto-update-v1\n%s\n' "$version"
    else
      printf 'vanto-update-v2\n%s\n%s\n' "$version" "$exe_dir"
    fi
    cat "$file"
  } |
    openssl dgst -sha256 -sign "$key" |
    python3 -c '
import base64, sys
der = sys.stdin.buffer.read()
# SEQUENCE { INTEGER r, INTEGER s }, each cut or padded to 32 bytes.
def integer(at):
    assert der[at] == 2
    return der[at + 2:at + 2 + der[at + 1]], at + 2 + der[at + 1]
r, at = integer(2)
s, _ = integer(at)
raw = b"".join(v.lstrip(b"\0").rjust(32, b"\0") for v in (r, s))
print(base64.b64encode(raw).decode())'
}

sample_installer 4099 1 >"$work/small"
sample_installer 200003 2 >"$work/large"
: >"$work/empty"
exe=vanto_setup.exe
echo "small, 2.0:             $(exe_sig test-private.pem 2.0 $exe "$work/small")"
echo "small, 2.0, other key:  $(exe_sig other-private.pem 2.0 $exe "$work/small")"
echo "small, 2.0 베타:         $(exe_sig test-private.pem '2.0 베타' $exe "$work/small")"
echo "small, 2.0, 새 설치.exe: $(exe_sig test-private.pem 2.0 '새 설치.exe' "$work/small")"
echo "small, 2.0, v1 message: $(exe_sig test-private.pem 2.0 - "$work/small")"
echo "empty, 2.0:             $(exe_sig test-private.pem 2.0 $exe "$work/empty")"
echo "large, 3.25:            $(exe_sig test-private.pem 3.25 $exe "$work/large")"
echo "test public key:"
openssl ec -pubin -in test-public.pem -outform DER -conv_form uncompressed 2>/dev/null |
  tail -c 65 | od -An -tx1 -v
echo "small installer, first bytes:"
head -c 8 "$work/small" | od -An -tx1
