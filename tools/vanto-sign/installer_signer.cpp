#include "installer_signer.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <array>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/utf.h"
#include "update/file_names.h"
#include "update/update_signature.h"

namespace vanto::sign {
namespace {

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct EcdsaSigFree {
  void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
using Bio = std::unique_ptr<BIO, BioFree>;
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, EcdsaSigFree>;

// The message with libcrypto's reason appended, when it gave one.
[[noreturn]] void Fail(std::string message) {
  unsigned long code = ERR_get_error();
  if (code != 0) {
    std::array<char, 256> reason{};
    ERR_error_string_n(code, reason.data(), reason.size());
    message += " (";
    message += reason.data();
    message += ")";
  }
  ERR_clear_error();
  throw SignError(message);
}

void CheckVersionText(std::string_view text) {
  if (text.empty()) throw SignError("the version text is empty");
  if (text.find_first_of("\r\n") != std::string_view::npos) {
    throw SignError("the version text contains a line break");
  }
  // The client reads VER as the INI reader returns it, without surrounding blanks.
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  if (blank(text.front()) || blank(text.back())) {
    throw SignError("the version text begins or ends with a blank, which VER cannot keep");
  }
}

// The client refuses any other ExeDir before it asks for the installer, so a signature over it
// would only ever be refused.
void CheckExeDir(std::string_view text) {
  const std::u16string name = platform::Utf8ToUtf16(text);
  if (platform::Utf16ToUtf8(name) != text) throw SignError("the ExeDir text is not UTF-8");
  if (!update::IsPlainFileName(name)) {
    throw SignError("the ExeDir \"" + std::string(text) +
                    "\" is not a plain file name of the download folder (no folder, drive, "
                    "stream or device name, no final dot or blank), which signed clients refuse");
  }
}

Pkey ReadPrivateKey(const std::string& path) {
  Bio file(BIO_new_file(path.c_str(), "r"));
  if (!file) Fail("cannot read the key file " + path);
  Pkey key(PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  if (!key) Fail(path + " holds no private key in PEM form");
  std::array<char, 64> group{};
  if (!EVP_PKEY_is_a(key.get(), "EC") ||
      EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group.data(),
                                     group.size(), nullptr) != 1 ||
      std::string_view(group.data()) != "prime256v1") {
    ERR_clear_error();
    throw SignError(path + " is not an ECDSA P-256 (prime256v1) key");
  }
  return key;
}

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::vector<char> ReadInstaller(const std::string& path) {
  std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
  if (!file) throw SignError("cannot read the installer " + path);
  std::vector<char> bytes;
  std::array<char, 64 * 1024> chunk;
  while (size_t count = std::fread(chunk.data(), 1, chunk.size(), file.get())) {
    bytes.insert(bytes.end(), chunk.data(), chunk.data() + count);
  }
  // A folder opens as a file here and fails only on reading.
  if (std::ferror(file.get())) throw SignError("cannot read the installer " + path);
  return bytes;
}

platform::P256Signature Sign(EVP_PKEY* key, std::span<const std::span<const char>> pieces) {
  DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1) {
    Fail("cannot start signing");
  }
  for (std::span<const char> piece : pieces) {
    if (EVP_DigestSignUpdate(context.get(), piece.data(), piece.size()) != 1) Fail("cannot sign");
  }
  size_t size = 0;
  if (EVP_DigestSignFinal(context.get(), nullptr, &size) != 1) Fail("cannot sign");
  std::vector<unsigned char> der(size);
  if (EVP_DigestSignFinal(context.get(), der.data(), &size) != 1) Fail("cannot sign");

  // libcrypto signs in DER; the entry holds r and s as 32 bytes each, leading zeros kept.
  const unsigned char* in = der.data();
  EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(size)));
  if (!sig) Fail("cannot decode the signature");
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig.get(), &r, &s);
  platform::P256Signature raw{};
  if (BN_bn2binpad(r, raw.data(), 32) != 32 || BN_bn2binpad(s, raw.data() + 32, 32) != 32) {
    Fail("the signature does not fit 64 bytes");
  }
  return raw;
}

platform::P256PublicKey PublicHalf(EVP_PKEY* key) {
  platform::P256PublicKey point{};
  size_t size = 0;
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(),
                                      point.size(), &size) != 1 ||
      size != point.size() || point[0] != 0x04) {
    Fail("cannot take the public key from the private key");
  }
  return point;
}

// Signs and checks the result with the key's public half, the way the client will.
platform::P256Signature SignWith(EVP_PKEY* key, std::string_view versionText,
                                 std::string_view exeDir, std::span<const char> installer) {
  std::string prefix = update::SignedMessagePrefix(versionText, exeDir);
  const std::span<const char> pieces[] = {prefix, installer};
  platform::P256Signature signature = Sign(key, pieces);
  if (!platform::VerifyP256Sha256(PublicHalf(key), pieces, signature)) {
    throw SignError("the new signature does not verify; nothing was printed");
  }
  return signature;
}

}  // namespace

platform::P256Signature SignInstaller(const std::string& privateKeyPath,
                                      std::string_view versionText, std::string_view exeDir,
                                      const std::string& installerPath) {
  CheckVersionText(versionText);
  CheckExeDir(exeDir);
  Pkey key = ReadPrivateKey(privateKeyPath);
  return SignWith(key.get(), versionText, exeDir, ReadInstaller(installerPath));
}

platform::P256Signature SignInstaller(const std::string& privateKeyPath,
                                      std::string_view versionText, std::string_view exeDir,
                                      std::span<const char> installer) {
  CheckVersionText(versionText);
  CheckExeDir(exeDir);
  Pkey key = ReadPrivateKey(privateKeyPath);
  return SignWith(key.get(), versionText, exeDir, installer);
}

}  // namespace vanto::sign
