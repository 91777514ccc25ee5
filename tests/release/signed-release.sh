#!/usr/bin/env bash
# The release signed with a throwaway CA made here (build/signed-release/, never committed):
# scripts/release signs with each form of key and says so in its last line, the signed exe is the
# unsigned release plus its signature (scripts/verify-release), tools/check-exe.py verifies it
# against the CA, and every row of the refusals below is refused. Exits 1 on the first fault.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
work=$root/build/signed-release
rm -rf "$work"
mkdir -p "$work/pki"
fail() {
  echo "FAIL $*" >&2
  exit 1
}

pki=$work/pki
quiet() { "$@" >/dev/null 2>&1; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=vanto test root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
  -keyout "$pki/ca.key" -out "$pki/ca.pem"
quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=someone else's root" \
  -keyout "$pki/other.key" -out "$pki/other.pem"
quiet openssl req -newkey rsa:2048 -nodes -subj "/O=vanto test vendor/CN=vanto test signer" \
  -keyout "$pki/signer.key" -out "$pki/signer.csr"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  >"$pki/signer.ext"
quiet openssl x509 -req -days 2 -in "$pki/signer.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" \
  -CAcreateserial -extfile "$pki/signer.ext" -out "$pki/signer.pem"
cat "$pki/signer.pem" "$pki/ca.pem" >"$pki/chain.pem"
password="pass word; \$not-expanded"
quiet openssl pkcs12 -export -inkey "$pki/signer.key" -in "$pki/signer.pem" \
  -certfile "$pki/ca.pem" -out "$pki/signer.p12" -passout "pass:$password"
quiet openssl pkey -in "$pki/signer.key" -aes256 -passout "pass:$password" -out "$pki/signer-enc.key"
# As the signature names its signer.
signer="/O=vanto test vendor/CN=vanto test signer"

release() {  # DIST, then env assignments; prints the release's last line
  local dist=$1
  shift
  env -u VANTO_SIGN_PKCS12 -u VANTO_SIGN_KEY -u VANTO_SIGN_CERT -u VANTO_SIGN_PASSWORD "$@" \
    scripts/release --dist "$dist" >"$dist.log" 2>&1 || fail "scripts/release into $dist: see $dist.log"
  tail -1 "$dist.log"
}

# Without a key: the unsigned exe, the same bytes as the release's own dist/ (made before).
[ -f dist/vantoup.exe ] || fail "no dist/vantoup.exe: run scripts/release first"
mkdir -p "$work/unsigned"
last=$(release "$work/unsigned")
size=$(stat -c %s "$work/unsigned/vantoup.exe")
[ "$last" = "$work/unsigned/vantoup.exe ($size bytes, unsigned)" ] || fail "unsigned last line: $last"
cmp -s dist/vantoup.exe "$work/unsigned/vantoup.exe" ||
  fail "the release without a key is not dist/vantoup.exe"
unsigned=$work/unsigned/vantoup.exe

# name | how the key is given (variables of the environment)
signings=(
  "pkcs12|VANTO_SIGN_PKCS12=$pki/signer.p12|VANTO_SIGN_PASSWORD=$password"
  "pem|VANTO_SIGN_KEY=$pki/signer.key|VANTO_SIGN_CERT=$pki/chain.pem"
  "pem-encrypted|VANTO_SIGN_KEY=$pki/signer-enc.key|VANTO_SIGN_CERT=$pki/chain.pem|VANTO_SIGN_PASSWORD=$password"
)
for row in "${signings[@]}"; do
  IFS='|' read -r -a fields <<<"$row"
  name=${fields[0]}
  keys=("${fields[@]:1}")
  mkdir -p "$work/$name"
  exe=$work/$name/vantoup.exe
  last=$(release "$work/$name" "${keys[@]}" VANTO_SIGN_URL=https://vendor.example/vanto/ \
    VANTO_SIGN_CA="$pki/ca.pem")
  [ "$last" = "$exe ($(stat -c %s "$exe") bytes, signed by $signer)" ] ||
    fail "$name: last line: $last"
  grep -q "^ok    signature verifies against $pki/ca.pem" "$work/$name.log" ||
    fail "$name: the release check did not verify the signature"
  scripts/verify-release "$exe" --unsigned "$unsigned" >/dev/null ||
    fail "$name: the signed exe is not the unsigned one with its signature"
  osslsigncode verify -in "$exe" -CAfile "$pki/ca.pem" >"$work/$name.verify" 2>&1 ||
    fail "$name: osslsigncode verify"
  for text in "Text description: vanto automatic upgrade" \
    "URL description: https://vendor.example/vanto/" "Message digest algorithm  : SHA256"; do
    grep -qF "$text" "$work/$name.verify" || fail "$name: no \"$text\" in the signature"
  done
done

signed=$work/pkcs12/vantoup.exe
flipped() {  # a copy of $1 with the byte at offset $2 changed
  local out byte
  out=$(mktemp -p "$work" flipped-XXXX.exe)
  cp "$1" "$out"
  byte=$(od -An -tu1 -j "$2" -N1 "$out" | tr -d ' ')
  printf %b "\\$(printf %03o $(((byte + 1) % 256)))" | dd of="$out" bs=1 seek="$2" conv=notrunc 2>/dev/null
  echo "$out"
}
code_byte=4200  # inside .text, which starts at 0x400
tail_byte=$(($(stat -c %s "$signed") - 100))  # inside the signature itself
# A copy of $1 with bits of a 16-bit header field cleared: $2 the field's offset from the PE
# header, $3 the bits. Each hardening flag off must fail the release check.
without() {
  local out
  out=$(mktemp -p "$work" flags-XXXX.exe)
  python3 - "$1" "$out" "$2" "$3" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = struct.unpack_from("<I", data, 0x3C)[0] + int(sys.argv[3], 0)
struct.pack_into("<H", data, at, struct.unpack_from("<H", data, at)[0] & ~int(sys.argv[4], 0))
open(sys.argv[2], "wb").write(data)
PY
  echo "$out"
}
# A copy with extra bytes riding inside the certificate table, its sizes grown to cover them.
padded_table() {
  local out
  out=$(mktemp -p "$work" table-XXXX.exe)
  python3 - "$1" "$out" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read()) + bytes(256)
pe = struct.unpack_from("<I", data, 0x3C)[0]
security = pe + 24 + 96 + 4 * 8  # the fifth data directory of a PE32 optional header
offset, size = struct.unpack_from("<II", data, security)
struct.pack_into("<II", data, security, offset, size + 256)
struct.pack_into("<I", data, offset, size + 256)
open(sys.argv[2], "wb").write(data)
PY
  echo "$out"
}
# DllCharacteristics: 94 bytes into the PE32 optional header, 24 into the PE header.
characteristics=$((24 + 70))

# name | command that must say no
refusals=(
  "a code byte changed after signing: check|python3 tools/check-exe.py $(flipped "$signed" $code_byte) --ca $pki/ca.pem"
  "a code byte changed after signing: check without a CA|python3 tools/check-exe.py $(flipped "$signed" $code_byte)"
  "a code byte changed after signing: verify|scripts/verify-release $(flipped "$signed" $code_byte) --unsigned $unsigned"
  "a byte of the signature changed: check|python3 tools/check-exe.py $(flipped "$signed" $tail_byte) --ca $pki/ca.pem"
  "a signature made by another CA's signer|python3 tools/check-exe.py $signed --ca $pki/other.pem"
  "an unsigned exe where a signature is asked for|python3 tools/check-exe.py $unsigned --ca $pki/ca.pem"
  "an unsigned exe that is not this commit's|scripts/verify-release $signed --unsigned $(flipped "$unsigned" $code_byte)"
  "an exe with no signature to compare|scripts/verify-release $unsigned --unsigned $unsigned"
  "extra bytes inside the certificate table|python3 tools/check-exe.py $(padded_table "$signed") --ca $pki/ca.pem"
  "no DYNAMIC_BASE|python3 tools/check-exe.py $(without "$unsigned" $characteristics 0x40)"
  "no NX_COMPAT|python3 tools/check-exe.py $(without "$unsigned" $characteristics 0x100)"
  "no NO_SEH|python3 tools/check-exe.py $(without "$unsigned" $characteristics 0x400)"
  "not terminal-server aware|python3 tools/check-exe.py $(without "$unsigned" $characteristics 0x8000)"
  "not large-address-aware|python3 tools/check-exe.py $(without "$unsigned" 22 0x20)"
  "a signing without the vendor's URL|env -u VANTO_SIGN_URL VANTO_SIGN_KEY=$pki/signer.key VANTO_SIGN_CERT=$pki/chain.pem scripts/sign-exe $unsigned $work/no-url.exe"
  "a key without its certificate|env VANTO_SIGN_KEY=$pki/signer.key VANTO_SIGN_URL=https://vendor.example/ scripts/sign-exe $unsigned $work/no-cert.exe"
  "a wrong PKCS#12 password|env VANTO_SIGN_PKCS12=$pki/signer.p12 VANTO_SIGN_PASSWORD=wrong VANTO_SIGN_URL=https://vendor.example/ scripts/sign-exe $unsigned $work/wrong-password.exe"
)
for row in "${refusals[@]}"; do
  IFS='|' read -r name command <<<"$row"
  # shellcheck disable=SC2086
  if $command >"$work/refusal.log" 2>&1; then
    fail "accepted: $name ($command)"
  fi
done
echo "signed release: ${#signings[@]} signings and ${#refusals[@]} refusals as expected"
