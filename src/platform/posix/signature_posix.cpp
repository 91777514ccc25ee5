#include "platform/signature.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <memory>
#include <vector>

namespace vanto::platform {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyContextFree {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct EcdsaSigFree {
  void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
struct BignumFree {
  void operator()(BIGNUM* number) const { BN_free(number); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, EcdsaSigFree>;
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;

Pkey ImportPublicKey(const P256PublicKey& publicKey) {
  PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!context || EVP_PKEY_fromdata_init(context.get()) != 1) return nullptr;
  char groupName[] = "prime256v1";
  std::array<std::uint8_t, 65> point = publicKey;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, groupName, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
      OSSL_PARAM_construct_end()};
  EVP_PKEY* raw = nullptr;
  if (EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params) != 1) return nullptr;
  Pkey key(raw);
  // Decoding already rejects a point off the curve; the check also covers the point at infinity.
  PkeyContext checker(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!checker || EVP_PKEY_public_check(checker.get()) != 1) return nullptr;
  return key;
}

// libcrypto takes ECDSA signatures in DER.
std::vector<unsigned char> SignatureDer(const P256Signature& signature) {
  Bignum r(BN_bin2bn(signature.data(), 32, nullptr));
  Bignum s(BN_bin2bn(signature.data() + 32, 32, nullptr));
  EcdsaSig sig(ECDSA_SIG_new());
  if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return {};
  r.release();  // owned by sig now
  s.release();
  int size = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (size <= 0) return {};
  std::vector<unsigned char> der(static_cast<size_t>(size));
  unsigned char* out = der.data();
  if (i2d_ECDSA_SIG(sig.get(), &out) != size) return {};
  return der;
}

bool VerifyDigest(const P256PublicKey& publicKey, const Sha256Digest& digest,
                  const P256Signature& signature) {
  if (publicKey[0] != 0x04) return false;
  Pkey key = ImportPublicKey(publicKey);
  std::vector<unsigned char> der = SignatureDer(signature);
  if (!key || der.empty()) return false;
  PkeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!context || EVP_PKEY_verify_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1) {
    return false;
  }
  return EVP_PKEY_verify(context.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
}

}  // namespace

struct Sha256::State {
  DigestContext context{EVP_MD_CTX_new()};
  bool failed = !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Add(std::span<const char> bytes) {
  if (state_->failed || bytes.empty()) return;
  state_->failed = EVP_DigestUpdate(state_->context.get(), bytes.data(), bytes.size()) != 1;
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest{};
  unsigned int size = 0;
  if (state_->failed || EVP_DigestFinal_ex(state_->context.get(), digest.data(), &size) != 1 ||
      size != digest.size()) {
    ERR_clear_error();
    return std::nullopt;
  }
  return digest;
}

bool VerifyP256Sha256Digest(const P256PublicKey& publicKey, const Sha256Digest& digest,
                            const P256Signature& signature) {
  bool valid = VerifyDigest(publicKey, digest, signature);
  // A refused signature leaves reasons in the thread's error queue; they must not surface in
  // whatever uses libcrypto next.
  ERR_clear_error();
  return valid;
}

}  // namespace vanto::platform
