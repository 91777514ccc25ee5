// The message in pieces, hashed then verified: the same on every platform.
#include "platform/signature.h"

namespace vanto::platform {

bool VerifyP256Sha256(const P256PublicKey& publicKey, std::span<const std::span<const char>> pieces,
                      const P256Signature& signature) {
  Sha256 hash;
  for (std::span<const char> piece : pieces) hash.Add(piece);
  const std::optional<Sha256Digest> digest = hash.Finish();
  return digest && VerifyP256Sha256Digest(publicKey, *digest, signature);
}

}  // namespace vanto::platform
