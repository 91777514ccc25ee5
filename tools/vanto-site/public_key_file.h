// The vendor's public key from its PEM file, without a cryptography library, so that every
// build of the tool can check signatures the way the client does.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/signature.h"

namespace vanto::site {

// The P-256 point of a "PUBLIC KEY" PEM file (as `openssl ec -pubout` writes it), or nothing
// with the reason in `problem`.
std::optional<platform::P256PublicKey> ReadPublicKeyFile(const std::filesystem::path& path,
                                                         std::string& problem);

}  // namespace vanto::site
