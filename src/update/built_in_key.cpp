// The vendor key of this build, alone in its unit: a program built with another key (the tests'
// own) links another copy of this unit and shares every other object of the build.
#include "update/update_signature.h"
#include "update_public_key.h"

namespace vanto::update {

std::optional<platform::P256PublicKey> BuiltInUpdateKey() {
  if constexpr (kHasUpdatePublicKey) return kUpdatePublicKey;
  return std::nullopt;
}

}  // namespace vanto::update
