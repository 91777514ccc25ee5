// Verification of an ECDSA P-256 / SHA-256 signature by the platform's cryptography: CNG on
// Windows, libcrypto on Linux. The message is hashed as it comes, in pieces, so that a download is
// checked as it arrives and never held whole to be checked.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace vanto::platform {

// The uncompressed point 0x04 || X || Y, 32 bytes each, big-endian.
using P256PublicKey = std::array<std::uint8_t, 65>;
// r || s, 32 bytes each, big-endian.
using P256Signature = std::array<std::uint8_t, 64>;

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 of bytes added in pieces.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(std::span<const char> bytes);
  // The digest of all that was added; nothing when the platform failed at any step.
  std::optional<Sha256Digest> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// True only when `signature` is valid for the message of `digest` under `publicKey`. Any failure
// of the platform (an unusable key included) counts as a signature that does not verify.
bool VerifyP256Sha256Digest(const P256PublicKey& publicKey, const Sha256Digest& digest,
                            const P256Signature& signature);

// True only when `signature` is valid for the concatenation of `pieces` under `publicKey`. Any
// failure of the platform (an unusable key included) counts as a signature that does not verify.
bool VerifyP256Sha256(const P256PublicKey& publicKey, std::span<const std::span<const char>> pieces,
                      const P256Signature& signature);

}  // namespace vanto::platform
