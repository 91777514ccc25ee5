// Signed updates: the vendor signs each installer offline together with the version text that
// announces it, and the information file carries the signature as its ExeSig entry. A client built
// with the vendor's public key refuses an installer whose signature is missing or wrong before
// the installer takes its name.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/body_sink.h"
#include "net/errors.h"
#include "net/fetch.h"
#include "platform/signature.h"

namespace vanto::update {

inline constexpr char16_t kSignatureErrorText[] = u"업그레이드화일의 서명이 올바르지 않습니다.";

// The installer's signature is missing, malformed or does not verify.
class ESignatureError : public Error {
 public:
  ESignatureError() : Error(kSignatureErrorText) {}
  std::string_view Kind() const noexcept override { return "ESignatureError"; }
};

// The text of RFC 4648 base64 with padding. Anything else (other characters, blanks, missing or
// extra padding, stray bits in the last character) gives nothing: there is exactly one text per
// byte string, which keeps the entry easy to compare by eye.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::u16string_view text);
std::string EncodeBase64(std::span<const std::uint8_t> bytes);

// What comes before the installer's bytes in the signed message: "vanto-update-v2", LF, the VER
// text, LF, the ExeDir text, LF, each exactly as the information file holds it (UTF-8). Binding
// VER means an old signed installer cannot be announced as a newer version; binding ExeDir means
// the genuine pair cannot be saved over another of the user's files, or under a name that makes
// the shell do something else with it. The "v2" keeps a signature made over the earlier message
// (tag, VER, installer) from ever fitting this one.
std::string SignedMessagePrefix(std::string_view versionTextUtf8, std::string_view exeDirUtf8);

// The information file's entries that the signature binds.
struct SignedEntries {
  std::u16string versionText;  // VER
  std::u16string exeDir;       // ExeDir
};

// Throws ESignatureError unless `exeSig` is the base64 of a 64-byte r || s signature by
// `publicKey` over the prefix for `entries` followed by the installer's bytes.
void CheckInstallerSignature(const platform::P256PublicKey& publicKey, const SignedEntries& entries,
                             std::u16string_view exeSig,
                             std::span<const std::span<const char>> installer);

// The vendor key compiled in through VANTO_UPDATE_PUBLIC_KEY, if any.
std::optional<platform::P256PublicKey> BuiltInUpdateKey();

// The body check for the installer download under `publicKey`: it hashes the installer as it
// arrives and decides once it is complete. Nothing without a key.
net::BodyCheckFactory InstallerSignatureCheck(
    const std::optional<platform::P256PublicKey>& publicKey, SignedEntries entries,
    std::u16string exeSig);

// `options` with the installer signature check added after any body checks they already have;
// unchanged when there is no key.
net::FetchOptions WithInstallerSignatureCheck(
    net::FetchOptions options, const std::optional<platform::P256PublicKey>& publicKey,
    SignedEntries entries, std::u16string exeSig);

}  // namespace vanto::update
