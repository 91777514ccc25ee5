// Verification of an ECDSA P-256 / SHA-256 signature by the platform's cryptography: CNG on
// Windows, libcrypto on Linux. The message comes in pieces that are hashed in order, so that a
// large download is never copied into one buffer to be checked.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vanto::platform {

// The uncompressed point 0x04 || X || Y, 32 bytes each, big-endian.
using P256PublicKey = std::array<std::uint8_t, 65>;
// r || s, 32 bytes each, big-endian.
using P256Signature = std::array<std::uint8_t, 64>;

// True only when `signature` is valid for the concatenation of `pieces` under `publicKey`. Any
// failure of the platform (an unusable key included) counts as a signature that does not verify.
bool VerifyP256Sha256(const P256PublicKey& publicKey, std::span<const std::span<const char>> pieces,
                      const P256Signature& signature);

}  // namespace vanto::platform
