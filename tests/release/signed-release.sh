#!/usr/bin/env bash
# The release signed with a throwaway CA made here (build/signed-release/, never committed):
# scripts/release signs with each form of key and says so in its last lines, the password reaches
# no process it starts, the signed exe is the unsigned release plus its signature
# (scripts/verify-release), tools/check-exe.py verifies it against the CA, and every row of the
# refusals below is refused. It builds nothing: each release takes the link output of the release
# made before (scripts/release --no-update-key, in build/release-win32). Exits 1 on the first
# fault.
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
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
  -keyout "$pki/other.key" -out "$pki/other.pem"
quiet openssl req -newkey rsa:2048 -nodes -subj "/O=vanto test vendor/CN=vanto test signer" \
  -keyout "$pki/signer.key" -out "$pki/signer.csr"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  >"$pki/signer.ext"
quiet openssl x509 -req -days 2 -in "$pki/signer.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" \
  -CAcreateserial -extfile "$pki/signer.ext" -out "$pki/signer.pem"
cat "$pki/signer.pem" "$pki/ca.pem" >"$pki/chain.pem"
cp "$pki/chain.pem" "$pki/signer-chain.pem"
# issue NAME SUBJECT CA EXTENDED-KEY-USAGE: a key and its chain NAME.key, NAME-chain.pem
issue() {
  quiet openssl req -newkey rsa:2048 -nodes -subj "$2" -keyout "$pki/$1.key" -out "$pki/$1.csr"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
    "$4" >"$pki/$1.ext"
  quiet openssl x509 -req -days 2 -in "$pki/$1.csr" -CA "$pki/$3.pem" -CAkey "$pki/$3.key" \
    -CAcreateserial -extfile "$pki/$1.ext" -out "$pki/$1.pem"
  cat "$pki/$1.pem" "$pki/$3.pem" >"$pki/$1-chain.pem"
}
issue tls "/CN=vanto test server" ca serverAuth
issue intruder "/CN=an intruder" other codeSigning
# A purpose whose encoding holds code signing's bytes (1.3.6.1.4.1.6.8.43.6.1.5.5.7.3.3) is not
# code signing.
issue lookalike "/CN=vanto test look-alike" ca serverAuth,1.3.6.1.4.1.6.8.43.6.1.5.5.7.3.3
issue tsa "/CN=vanto test time stamps" ca critical,timeStamping
# The signer's own key with a certificate riding along that is not on its chain.
cp "$pki/signer.key" "$pki/rider.key"
cat "$pki/signer-chain.pem" "$pki/intruder.pem" >"$pki/rider-chain.pem"
password="pass word; \$not-expanded"
printf '%s\n' "$password" >"$pki/password"
quiet openssl pkcs12 -export -inkey "$pki/signer.key" -in "$pki/signer.pem" \
  -certfile "$pki/ca.pem" -out "$pki/signer.p12" -passout "pass:$password"
quiet openssl pkey -in "$pki/signer.key" -aes256 -passout "pass:$password" -out "$pki/signer-enc.key"
# As the signature names its signer.
signer="/O=vanto test vendor/CN=vanto test signer"

built=build/release-win32
release() {  # DIST, then env assignments; prints the release's last line
  local dist=$1 password_file=/dev/null
  shift
  # VANTO_SIGN_PASSWORD_FD=3 reads it from a file, as the guide's command does.
  case " $* " in *" VANTO_SIGN_PASSWORD_FD=3 "*) password_file=$pki/password ;; esac
  env -u VANTO_SIGN_PKCS12 -u VANTO_SIGN_KEY -u VANTO_SIGN_CERT -u VANTO_SIGN_PASSWORD "$@" \
    scripts/release --no-update-key --built "$built" --dist "$dist" 3<"$password_file" >"$dist.log" 2>&1 ||
    fail "scripts/release into $dist: see $dist.log"
  [ "$(tail -2 "$dist.log" | head -1)" = "no update key: installers are not checked" ] ||
    fail "$dist: the release does not say that it has no update key"
  tail -1 "$dist.log"
}

# Without a key: the unsigned exe, the same bytes as the release's own dist/ (made before).
[ -f dist/vantoup.exe ] && [ -f "$built/src/app/vantoup.exe" ] ||
  fail "no dist/vantoup.exe or $built: run scripts/release --no-update-key first"
mkdir -p "$work/unsigned"
last=$(release "$work/unsigned")
size=$(stat -c %s "$work/unsigned/vantoup.exe")
[ "$last" = "$work/unsigned/vantoup.exe ($size bytes, unsigned)" ] || fail "unsigned last line: $last"
cmp -s dist/vantoup.exe "$work/unsigned/vantoup.exe" ||
  fail "the release without a key is not dist/vantoup.exe"
unsigned=$work/unsigned/vantoup.exe
grep -q "^compiler: " "$work/unsigned/TOOLCHAIN" || fail "the release wrote no TOOLCHAIN"

# Every program the release starts records its arguments, its environment and what it can read
# through each descriptor it inherited that is open on a file, then runs as it would: the
# password must be in none of them.
shims=$work/shims
mkdir -p "$shims"
cat >"$shims/shim" <<'SH'
#!/usr/bin/env bash
name=${0##*/}
# As the values are, unquoted: export -p would escape a password's $ and hide it from grep.
{
  printf '%s\n' "$name $*"
  for variable in $(compgen -e); do printf '%s=%s\n' "$variable" "${!variable}"; done
  # Read by the shell itself: cat is a shim too. 255 is this script.
  for fd in /proc/$$/fd/*; do
    if [ "${fd##*/}" -gt 2 ] && [ "${fd##*/}" -lt 255 ] && [ -f "$fd" ]; then
      printf 'fd %s: %s\n' "${fd##*/}" "$(<"$fd")"
    fi
  done
} >"$VANTO_SHIM_LOG/$name.$$"
IFS=: read -r -a dirs <<<"$PATH"
for dir in "${dirs[@]}"; do
  [ "$dir" != "${0%/*}" ] && [ -x "$dir/$name" ] && exec "$dir/$name" "$@"
done
exit 127
SH
chmod +x "$shims/shim"
shimmed="cmake python3 osslsigncode openssl i686-w64-mingw32-strip i686-w64-mingw32-objdump
  i686-w64-mingw32-nm i686-w64-mingw32-g++-posix i686-w64-mingw32-ld mkdir mv rm cp sha256sum stat
  cat tail head grep sed realpath env diff cmp"
for name in $shimmed; do ln -s shim "$shims/$name"; done
mkdir -p "$work/started"
# name | how the key is given (variables of the environment)
signings=(
  "pkcs12|VANTO_SIGN_PKCS12=$pki/signer.p12|VANTO_SIGN_PASSWORD=$password"
  "pkcs12-fd|VANTO_SIGN_PKCS12=$pki/signer.p12|VANTO_SIGN_PASSWORD_FD=3"
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
    VANTO_SIGN_CA="$pki/ca.pem" PATH="$shims:$PATH" VANTO_SHIM_LOG="$work/started")
  [ "$last" = "$exe ($(stat -c %s "$exe") bytes, signed by $signer)" ] ||
    fail "$name: last line: $last"
  for tool in osslsigncode python3 i686-w64-mingw32-strip cmake sha256sum; do
    compgen -G "$work/started/$tool.*" >/dev/null || fail "no $tool started through the shims"
  done
  if grep -lF -- "$password" "$work/started"/* >&2; then
    fail "$name: the password reached the programs above"
  fi
  rm -f "$work/started"/*
  grep -q "^ok    signature verifies against $pki/ca.pem" "$work/$name.log" ||
    fail "$name: the release check did not verify the signature"
  scripts/verify-release "$exe" --ca "$pki/ca.pem" --unsigned "$unsigned" >"$work/$name.verified" ||
    fail "$name: the signed exe is not the unsigned one with its signature"
  grep -qF "signature: signed by $signer, issued by /CN=vanto test root" "$work/$name.verified" ||
    fail "$name: verify-release does not name the signer and issuer"
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
# A copy of $1 with the bytes $2 changed to $3 (as long), and the string $4 appended.
renamed() {
  local out
  out=$(mktemp -p "$work" renamed-XXXX.exe)
  python3 - "$1" "$out" "$2" "$3" "${4:-}" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
old, new = sys.argv[3].encode(), sys.argv[4].encode()
assert len(old) == len(new) and old in data, "nothing to rename"
tail = sys.argv[5].encode() + b"\0" if sys.argv[5] else b""
open(sys.argv[2], "wb").write(data.replace(old, new) + tail)
PY
  echo "$out"
}
# A copy of $1 carrying the certificate table of $2 in place of its own (a signature made for
# other bytes).
grafted() {
  local out
  out=$(mktemp -p "$work" grafted-XXXX.exe)
  python3 - "$1" "$2" "$out" <<'PY'
import struct, sys
def table(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return pe + 24 + 96 + 4 * 8
data = bytearray(open(sys.argv[1], "rb").read())
other = open(sys.argv[2], "rb").read()
offset, size = struct.unpack_from("<II", other, table(other))
data += bytes(-len(data) % 8)
struct.pack_into("<II", data, table(data), len(data), size)
open(sys.argv[3], "wb").write(data + other[offset:offset + size])
PY
  echo "$out"
}
# sign_with NAME IN [osslsigncode options]: IN signed by the key NAME, bypassing scripts/sign-exe
sign_with() {
  local name=$1 in=$2 out
  shift 2
  out=$(mktemp -p "$work" "$name-XXXX.exe")
  rm -f "$out"
  quiet osslsigncode sign -key "$pki/$name.key" -certs "$pki/$name-chain.pem" -h sha256 "$@" \
    -in "$in" -out "$out"
  echo "$out"
}
# A copy of $2 with the signature of $1, to which a blob was added as an unauthenticated
# attribute under the name of a time stamp (PKCS#9's countersignature), attached by osslsigncode
# as a signer's own would be.
blob_as_time_stamp() {
  local out
  out=$(mktemp -p "$work" stamp-XXXX.exe)
  rm -f "$out" "$out.der"
  quiet osslsigncode extract-signature -in "$1" -out "$out.der"
  python3 - "$out.der" <<'PY'
import sys
def parse(b):  # [tag, children or None, content], the element's size
    first = b[1]
    head = 2 + (first & 0x7F if first & 0x80 else 0)
    size = int.from_bytes(b[2:head], "big") if first & 0x80 else first
    body, kids = b[head:head + size], None
    if b[0] & 0x20:
        kids, at = [], 0
        while at < len(body):
            kid, used = parse(body[at:])
            kids.append(kid)
            at += used
    return [b[0], kids, body], head + size
def encode(node):
    tag, kids, body = node
    if kids is not None:
        body = b"".join(encode(kid) for kid in kids)
    size = len(body).to_bytes((len(body).bit_length() + 7) // 8 or 1, "big")
    return bytes([tag]) + (size if len(body) < 0x80 else bytes([0x80 | len(size)]) + size) + body
root = parse(open(sys.argv[1], "rb").read())[0]
signer_info = root[1][1][1][0][1][-1][1][0]  # ContentInfo, [0], SignedData, SignerInfos
countersignature = [0x06, None, bytes.fromhex("2a864886f70d010906")]
blob = [0x31, [[0x04, None, b"riding along " * 16]], b""]
signer_info[1].append([0xA1, [[0x30, [countersignature, blob], b""]], b""])
open(sys.argv[1], "wb").write(encode(root))
PY
  # attach-signature also checks the chain against the system's CAs and says no for that alone.
  quiet osslsigncode attach-signature -sigin "$out.der" -in "$2" -out "$out" || true
  echo "$out"
}
blob=$(mktemp -p "$work" blob-XXXX.exe)
rm -f "$blob"
quiet osslsigncode add -addUnauthenticatedBlob -in "$signed" -out "$blob"
another_program=$(grafted "$unsigned" "$(sign_with signer "$(flipped "$unsigned" $code_byte)")")
resigned=$(sign_with intruder "$unsigned")
nested=$(sign_with intruder "$signed" -nest)
tls_signed=$(sign_with tls "$unsigned")
lookalike_signed=$(sign_with lookalike "$unsigned")
rider=$(sign_with rider "$unsigned")
stamp_blob=$(blob_as_time_stamp "$signed" "$unsigned")
# A time stamp, here by osslsigncode's own authority in place of a vendor's, is the one
# unauthenticated attribute a signature may carry, once it verifies.
stamped=$(sign_with signer "$unsigned" -TSA-certs "$pki/tsa-chain.pem" -TSA-key "$pki/tsa.key")
python3 tools/check-exe.py "$stamped" --signature-only --ca "$pki/ca.pem" >"$work/stamped.check" ||
  fail "a time-stamped signature is refused: see $work/stamped.check"
grep -q "^ok    time stamp verifies" "$work/stamped.check" || fail "the time stamp is not checked"
scripts/verify-release "$stamped" --ca "$pki/ca.pem" --unsigned "$unsigned" >"$work/stamped.verified" 2>&1 ||
  fail "verify-release refuses a time-stamped signature: see $work/stamped.verified"
cp tests/signature/data/test-public.pem "$work/vendor-public.pem"
other_tools=$work/other-tools
mkdir -p "$other_tools"
cp "$signed" "$other_tools/vantoup.exe"
sed 's/^compiler: .*/compiler: another compiler 1.0/' "$work/pkcs12/TOOLCHAIN" >"$other_tools/TOOLCHAIN"
# The settings of the signing: none but those that a row gives.
clean="env -u VANTO_SIGN_PKCS12 -u VANTO_SIGN_KEY -u VANTO_SIGN_CERT -u VANTO_SIGN_CA -u VANTO_SIGN_PASSWORD"
misconfigured="scripts/release --no-update-key --built $built --dist $work/misconfigured"

# DllCharacteristics: 94 bytes into the PE32 optional header, 24 into the PE header.
characteristics=$((24 + 70))

# name | command that must say no | what it says, when a reason must be named
refusals=(
  "another program's signature on the unsigned build: verify|scripts/verify-release $another_program --ca $pki/ca.pem --unsigned $unsigned|signature's digest matches the file"
  "another program's signature on the unsigned build: verify without a CA|scripts/verify-release $another_program --unsigned $unsigned|signature's digest matches the file"
  "re-signed by an unrelated CA: verify|scripts/verify-release $resigned --ca $pki/ca.pem --unsigned $unsigned|signature verifies against"
  "an attacker's nested signature added: verify|scripts/verify-release $nested --ca $pki/ca.pem --unsigned $unsigned|nothing unauthenticated"
  "an attacker's nested signature added: check|python3 tools/check-exe.py $nested --ca $pki/ca.pem|nothing unauthenticated"
  "an unauthenticated blob added: verify|scripts/verify-release $blob --ca $pki/ca.pem --unsigned $unsigned|nothing unauthenticated"
  "an unauthenticated blob added: check|python3 tools/check-exe.py $blob --ca $pki/ca.pem|nothing unauthenticated"
  "a certificate not for code signing: sign-exe|env VANTO_SIGN_KEY=$pki/tls.key VANTO_SIGN_CERT=$pki/tls-chain.pem VANTO_SIGN_URL=https://vendor.example/ scripts/sign-exe $unsigned $work/tls.exe|not for code signing"
  "a certificate not for code signing: the release|$clean VANTO_SIGN_KEY=$pki/tls.key VANTO_SIGN_CERT=$pki/tls-chain.pem VANTO_SIGN_URL=https://vendor.example/ $misconfigured|not for code signing"
  "a certificate not for code signing: check without a CA|python3 tools/check-exe.py $tls_signed|FAIL  signer's certificate is for code signing"
  "a certificate not for code signing: verify|scripts/verify-release $tls_signed --ca $pki/ca.pem --unsigned $unsigned|for code signing"
  "a purpose that holds code signing's bytes: sign-exe|env VANTO_SIGN_KEY=$pki/lookalike.key VANTO_SIGN_CERT=$pki/lookalike-chain.pem VANTO_SIGN_URL=https://vendor.example/ scripts/sign-exe $unsigned $work/lookalike.exe|not for code signing"
  "a purpose that holds code signing's bytes: check without a CA|python3 tools/check-exe.py $lookalike_signed|FAIL  signer's certificate is for code signing"
  "a certificate riding along off the signer's chain: check|python3 tools/check-exe.py $rider --ca $pki/ca.pem|off the signer's chain"
  "a certificate riding along off the signer's chain: verify|scripts/verify-release $rider --ca $pki/ca.pem --unsigned $unsigned|off the signer's chain"
  "a blob named as a time stamp: check|python3 tools/check-exe.py $stamp_blob --ca $pki/ca.pem|FAIL  time stamp verifies"
  "a blob named as a time stamp: verify|scripts/verify-release $stamp_blob --ca $pki/ca.pem --unsigned $unsigned|time stamp verifies"
  "a misspelt signing variable|$clean VANTO_SIGN_PKSC12=$pki/signer.p12 VANTO_SIGN_URL=https://vendor.example/ $misconfigured|VANTO_SIGN_PKSC12 is no setting"
  "VANTO_SIGN_CA without a key|$clean VANTO_SIGN_CA=$pki/ca.pem $misconfigured|VANTO_SIGN_CA set, but no key"
  "a password without a key|$clean VANTO_SIGN_PASSWORD=x $misconfigured|VANTO_SIGN_PASSWORD set, but no key"
  "a static import of a DLL that is no KnownDLL|python3 tools/check-exe.py $(renamed "$unsigned" WS2_32.dll WS2_33.dll)|FAIL  imports only KnownDLLs"
  "the DLL-search call named but not imported|python3 tools/check-exe.py $(renamed "$unsigned" SetDefaultDllDirectories SetDefaultDllDirectorieX SetDefaultDllDirectories)|FAIL  DLLs from the system folder only"
  "no update-key decision|$clean scripts/release --built $built --dist $work/undecided|--no-update-key (installers unchecked)"
  "the repository's test key as the release key|$clean scripts/release --update-key $work/vendor-public.pem --built $built --dist $work/test-key|the repository's test key"
  "the update key given as a cache setting|$clean scripts/release --no-update-key --built $built -DVANTO_UPDATE_PUBLIC_KEY=$pki/none.pem --dist $work/cache-key|not -DVANTO_UPDATE_PUBLIC_KEY"
  "a code byte changed after signing: check|python3 tools/check-exe.py $(flipped "$signed" $code_byte) --ca $pki/ca.pem"
  "a code byte changed after signing: check without a CA|python3 tools/check-exe.py $(flipped "$signed" $code_byte)"
  "a code byte changed after signing: verify|scripts/verify-release $(flipped "$signed" $code_byte) --unsigned $unsigned"
  "a byte of the signature changed: check|python3 tools/check-exe.py $(flipped "$signed" $tail_byte) --ca $pki/ca.pem"
  "a byte of the signature changed: check without a CA|python3 tools/check-exe.py $(flipped "$signed" $tail_byte)|FAIL  signature made with the signer certificate's key"
  "a signature made by another CA's signer|python3 tools/check-exe.py $signed --ca $pki/other.pem"
  "an unsigned exe where a signature is asked for|python3 tools/check-exe.py $unsigned --ca $pki/ca.pem"
  "an unsigned exe that is not this commit's|scripts/verify-release $signed --unsigned $(flipped "$unsigned" $code_byte)|the toolchain is the same"
  "an unsigned exe that is not this commit's, from other tools|scripts/verify-release $other_tools/vantoup.exe --unsigned $(flipped "$unsigned" $code_byte)|the toolchain differs"
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
  IFS='|' read -r name command text <<<"$row"
  # shellcheck disable=SC2086
  if $command >"$work/refusal.log" 2>&1; then
    fail "accepted: $name ($command)"
  fi
  if [ -n "$text" ] && ! grep -qF -- "$text" "$work/refusal.log"; then
    cat "$work/refusal.log" >&2
    fail "refused without saying \"$text\": $name ($command)"
  fi
done
echo "signed release: ${#signings[@]} signings and ${#refusals[@]} refusals as expected"
