#include "update/update_signature.h"

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "platform/utf.h"

namespace vanto::update {
namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a base64 character, or -1.
int Base64Value(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c - u'A';
  if (c >= u'a' && c <= u'z') return c - u'a' + 26;
  if (c >= u'0' && c <= u'9') return c - u'0' + 52;
  if (c == u'+') return 62;
  if (c == u'/') return 63;
  return -1;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::u16string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  if (!text.empty() && text.back() == u'=') padding = text[text.size() - 2] == u'=' ? 2 : 1;

  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (size_t group = 0; group < text.size(); group += 4) {
    bool last = group + 4 == text.size();
    size_t digits = last ? 4 - padding : 4;
    std::uint32_t bits = 0;
    for (size_t i = 0; i < 4; ++i) {
      int value = i < digits ? Base64Value(text[group + i]) : 0;
      if (value < 0) return std::nullopt;  // also a '=' before the end
      bits = bits << 6 | static_cast<std::uint32_t>(value);
    }
    bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
    if (digits >= 3) bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
    if (digits == 4) bytes.push_back(static_cast<std::uint8_t>(bits));
    // The bits below the last whole byte must be zero, or two texts would mean the same bytes.
    if (digits == 2 && (bits & 0xFFFF) != 0) return std::nullopt;
    if (digits == 3 && (bits & 0xFF) != 0) return std::nullopt;
  }
  return bytes;
}

std::string EncodeBase64(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    size_t count = std::min<size_t>(3, bytes.size() - i);
    std::uint32_t bits = std::uint32_t{bytes[i]} << 16;
    if (count > 1) bits |= std::uint32_t{bytes[i + 1]} << 8;
    if (count > 2) bits |= bytes[i + 2];
    for (size_t digit = 0; digit < 4; ++digit) {
      text += digit <= count ? kBase64Alphabet[bits >> (18 - 6 * digit) & 0x3F] : '=';
    }
  }
  return text;
}

std::string SignedMessagePrefix(std::string_view versionTextUtf8, std::string_view exeDirUtf8) {
  std::string prefix = "vanto-update-v2\n";
  prefix += versionTextUtf8;
  prefix += '\n';
  prefix += exeDirUtf8;
  prefix += '\n';
  return prefix;
}

namespace {

class SignatureCheck : public net::BodyCheck {
 public:
  SignatureCheck(const platform::P256PublicKey& publicKey, const SignedEntries& entries,
                 std::u16string exeSig)
      : publicKey_(publicKey), exeSig_(std::move(exeSig)) {
    hash_.Add(SignedMessagePrefix(platform::Utf16ToUtf8(entries.versionText),
                                  platform::Utf16ToUtf8(entries.exeDir)));
  }
  void Add(std::span<const char> bytes) override { hash_.Add(bytes); }
  void Decide() override {
    std::optional<std::vector<std::uint8_t>> decoded = DecodeBase64(exeSig_);
    platform::P256Signature signature;
    if (!decoded || decoded->size() != signature.size()) throw ESignatureError();
    std::copy(decoded->begin(), decoded->end(), signature.begin());
    const std::optional<platform::Sha256Digest> digest = hash_.Finish();
    if (!digest || !platform::VerifyP256Sha256Digest(publicKey_, *digest, signature)) {
      throw ESignatureError();
    }
  }

 private:
  platform::P256PublicKey publicKey_;
  std::u16string exeSig_;
  platform::Sha256 hash_;
};

}  // namespace

void CheckInstallerSignature(const platform::P256PublicKey& publicKey, const SignedEntries& entries,
                             std::u16string_view exeSig,
                             std::span<const std::span<const char>> installer) {
  SignatureCheck check(publicKey, entries, std::u16string(exeSig));
  for (std::span<const char> piece : installer) check.Add(piece);
  check.Decide();
}

net::BodyCheckFactory InstallerSignatureCheck(
    const std::optional<platform::P256PublicKey>& publicKey, SignedEntries entries,
    std::u16string exeSig) {
  if (!publicKey) return nullptr;
  return [key = *publicKey, entries = std::move(entries), exeSig = std::move(exeSig)] {
    return std::make_unique<SignatureCheck>(key, entries, exeSig);
  };
}

net::FetchOptions WithInstallerSignatureCheck(
    net::FetchOptions options, const std::optional<platform::P256PublicKey>& publicKey,
    SignedEntries entries, std::u16string exeSig) {
  if (net::BodyCheckFactory check =
          InstallerSignatureCheck(publicKey, std::move(entries), std::move(exeSig))) {
    options.bodyChecks.push_back(std::move(check));
  }
  return options;
}

}  // namespace vanto::update
