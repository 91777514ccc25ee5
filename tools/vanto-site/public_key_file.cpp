#include "public_key_file.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>

#include "update/update_signature.h"

namespace vanto::site {
namespace {

// SubjectPublicKeyInfo up to the point: id-ecPublicKey, prime256v1, a 66-byte bit string.
constexpr std::array<std::uint8_t, 26> kP256Prefix = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01,
    0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

constexpr char kBegin[] = "-----BEGIN PUBLIC KEY-----";
constexpr char kEnd[] = "-----END PUBLIC KEY-----";

}  // namespace

std::optional<platform::P256PublicKey> ReadPublicKeyFile(const std::filesystem::path& path,
                                                         std::string& problem) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problem = "cannot read the public key file";
    return {};
  }
  std::stringstream whole;
  whole << in.rdbuf();
  const std::string text = whole.str();
  const size_t begin = text.find(kBegin);
  const size_t end = text.find(kEnd);
  if (begin == text.npos || end == text.npos || end < begin) {
    problem = "no \"PUBLIC KEY\" block (a private key, or not PEM)";
    return {};
  }
  std::u16string base64;
  for (size_t i = begin + sizeof kBegin - 1; i < end; ++i) {
    if (text[i] != '\r' && text[i] != '\n') base64.push_back(static_cast<char16_t>(text[i]));
  }
  const std::optional<std::vector<std::uint8_t>> der = update::DecodeBase64(base64);
  if (!der || der->size() != kP256Prefix.size() + 65 ||
      !std::equal(kP256Prefix.begin(), kP256Prefix.end(), der->begin()) ||
      (*der)[kP256Prefix.size()] != 0x04) {
    problem = "not an uncompressed ECDSA P-256 (prime256v1) public key";
    return {};
  }
  platform::P256PublicKey key;
  std::copy(der->begin() + kP256Prefix.size(), der->end(), key.begin());
  return key;
}

}  // namespace vanto::site
