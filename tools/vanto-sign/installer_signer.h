// Signing an installer for the information file's ExeSig entry, with the vendor's private key.
#pragma once

#include <span>
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

// Signs "vanto-update-v2" LF `versionText` LF `exeDir` LF and the installer's bytes with the P-256
// key in the PEM file `privateKeyPath`, and checks the result with the key's public half the way
// the client will. `versionText` and `exeDir` must be the VER and ExeDir entries exactly as the
// information file will carry them (UTF-8); `exeDir` must be a plain file name.
platform::P256Signature SignInstaller(const std::string& privateKeyPath,
                                      std::string_view versionText, std::string_view exeDir,
                                      const std::string& installerPath);

// The same over installer bytes already in memory: the bytes signed are exactly the bytes given.
platform::P256Signature SignInstaller(const std::string& privateKeyPath,
                                      std::string_view versionText, std::string_view exeDir,
                                      std::span<const char> installer);

}  // namespace vanto::sign
