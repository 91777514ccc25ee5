// Signing an installer for the information file's ExeSig entry, with the vendor's private key.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/signature.h"

namespace vanto::sign {

// A failure, with a message for the person signing.
class SignError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Signs "vanto-update-v1" LF `versionText` LF and the installer's bytes with the P-256 key in the
// PEM file `privateKeyPath`, and checks the result with the key's public half the way the client
// will. `versionText` must be the VER entry exactly as the information file will carry it.
platform::P256Signature SignInstaller(const std::string& privateKeyPath,
                                      std::string_view versionText,
                                      const std::string& installerPath);

}  // namespace vanto::sign
