#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signature/signature_vectors.h"
#include "support/body_checks.h"
#include "update/update_signature.h"

namespace vanto::update {
namespace {

using test::kEmptySig;
using test::kLargeSig;
using test::kSignedExeDir;
using test::kSmallSig;
using test::kSmallSigKoreanExeDir;
using test::kSmallSigKoreanVersion;
using test::kSmallSigOldFormat;
using test::kSmallSigOtherKey;
using test::kTestKey;

SignedEntries Entries(std::u16string_view version, std::u16string_view exeDir = kSignedExeDir) {
  return {std::u16string(version), std::u16string(exeDir)};
}

// True when the check accepts; a refusal must be the signature error with its text.
bool Accepts(std::u16string_view version, std::u16string_view exeSig,
             std::span<const std::span<const char>> pieces,
             const platform::P256PublicKey& key = kTestKey,
             std::u16string_view exeDir = kSignedExeDir) {
  try {
    CheckInstallerSignature(key, Entries(version, exeDir), exeSig, pieces);
    return true;
  } catch (const ESignatureError& error) {
    EXPECT_EQ(error.Kind(), "ESignatureError");
    EXPECT_EQ(error.Message(), u"업그레이드화일의 서명이 올바르지 않습니다.");
    return false;
  }
}

// The body as a download holds it in memory, block by block.
void CheckBody(std::u16string_view version, std::u16string_view exeSig,
               const test::BodyInBlocks& body) {
  std::vector<std::span<const char>> blocks = body.Blocks();
  CheckInstallerSignature(kTestKey, Entries(version), exeSig, blocks);
}

bool Accepts(std::u16string_view version, std::u16string_view exeSig,
             const std::vector<char>& installer, const platform::P256PublicKey& key = kTestKey,
             std::u16string_view exeDir = kSignedExeDir) {
  std::span<const char> whole(installer);
  return Accepts(version, exeSig, std::span<const std::span<const char>>(&whole, 1), key, exeDir);
}

std::vector<char> Cut(std::vector<char> bytes, size_t from, size_t count) {
  bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(from),
              bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
  return bytes;
}

std::vector<char> WithExtraByte(std::vector<char> bytes, char extra) {
  bytes.push_back(extra);
  return bytes;
}

struct MessageCase {
  const char* name;
  std::u16string_view version;
  std::u16string_view exeSig;
  std::vector<char> installer;
  bool accepted;
  std::u16string_view exeDir = kSignedExeDir;
};

TEST(CheckInstallerSignature, SignedMessages) {
  const std::vector<char> small = test::SmallInstaller();
  const MessageCase cases[] = {
      {"the signed installer and version", u"2.0", kSmallSig, small, true},
      {"non-ASCII version text, as UTF-8", u"2.0 베타", kSmallSigKoreanVersion, small, true},
      {"empty installer", u"2.0", kEmptySig, {}, true},
      {"large installer", u"3.25", kLargeSig, test::LargeInstaller(), true},
      {"signed by another key", u"2.0", kSmallSigOtherKey, small, false},
      {"another installer's signature", u"2.0", kEmptySig, small, false},
      {"signature of a non-empty installer for an empty one", u"2.0", kSmallSig, {}, false},
      {"truncated by one byte", u"2.0", kSmallSig, Cut(small, small.size() - 1, 1), false},
      {"truncated to half", u"2.0", kSmallSig, Cut(small, 2048, small.size() - 2048), false},
      {"first byte missing", u"2.0", kSmallSig, Cut(small, 0, 1), false},
      {"one byte appended", u"2.0", kSmallSig, WithExtraByte(small, 0), false},
      {"relabelled as a newer version", u"3.0", kSmallSig, small, false},
      {"same number, other text", u"2.00", kSmallSig, small, false},
      {"same number, shorter text", u"2", kSmallSig, small, false},
      {"version with a blank before it", u" 2.0", kSmallSig, small, false},
      {"version with a line break after it", u"2.0\n", kSmallSig, small, false},
      {"empty version", u"", kSmallSig, small, false},
      {"non-ASCII signature for the plain version", u"2.0", kSmallSigKoreanVersion, small, false},
      {"non-ASCII ExeDir, as UTF-8", u"2.0", kSmallSigKoreanExeDir, small, true, u"새 설치.exe"},
      {"genuine pair with another ExeDir", u"2.0", kSmallSig, small, false, u"thesis.docx"},
      {"genuine pair, ExeDir in other letter case", u"2.0", kSmallSig, small, false,
       u"VANTO_SETUP.EXE"},
      {"genuine pair, ExeDir climbing out", u"2.0", kSmallSig, small, false,
       u"..\\vanto_setup.exe"},
      {"genuine pair, ExeDir empty", u"2.0", kSmallSig, small, false, u""},
      {"ExeDir moved into VER", u"2.0\nvanto_setup.exe", kSmallSig, small, false, u""},
      {"earlier message without ExeDir", u"2.0", kSmallSigOldFormat, small, false},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Accepts(c.version, c.exeSig, c.installer, kTestKey, c.exeDir), c.accepted);
  }
}

TEST(CheckInstallerSignature, RefusesEveryMalformedExeSig) {
  const std::vector<char> small = test::SmallInstaller();
  std::vector<std::uint8_t> raw = *DecodeBase64(kSmallSig);
  auto base64 = [](const std::vector<std::uint8_t>& bytes) {
    std::string text = EncodeBase64(bytes);
    return std::u16string(text.begin(), text.end());
  };
  std::vector<std::uint8_t> first63(raw.begin(), raw.begin() + 63);
  std::vector<std::uint8_t> appended65 = raw;
  appended65.push_back(0);
  std::vector<std::uint8_t> prepended65 = raw;
  prepended65.insert(prepended65.begin(), 0);
  std::u16string valid = kSmallSig;
  std::u16string withStar = valid;
  withStar[10] = u'*';
  std::u16string urlSafe = valid;
  for (char16_t& c : urlSafe) c = c == u'+' ? u'-' : c == u'/' ? u'_' : c;
  ASSERT_NE(urlSafe, valid);

  const std::pair<const char*, std::u16string> cases[] = {
      {"missing (read as empty)", u""},
      {"not base64", u"this is not a signature"},
      {"one character outside the alphabet", withStar},
      {"URL-safe alphabet", urlSafe},
      {"without padding", valid.substr(0, valid.size() - 2)},
      {"blank before", u" " + valid},
      {"line break inside", valid.substr(0, 44) + u"\n" + valid.substr(44)},
      {"63 bytes", base64(first63)},
      {"65 bytes, zero appended", base64(appended65)},
      {"65 bytes, zero prepended", base64(prepended65)},
      {"128 bytes, repeated", base64([&] {
         std::vector<std::uint8_t> twice = raw;
         twice.insert(twice.end(), raw.begin(), raw.end());
         return twice;
       }())},
      {"all zero", base64(std::vector<std::uint8_t>(64, 0))},
      {"all ones", base64(std::vector<std::uint8_t>(64, 0xFF))},
      {"r and s swapped", base64([&] {
         std::vector<std::uint8_t> swapped(raw.begin() + 32, raw.end());
         swapped.insert(swapped.end(), raw.begin(), raw.begin() + 32);
         return swapped;
       }())},
  };
  for (const auto& [name, exeSig] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Accepts(u"2.0", exeSig, small));
  }
  EXPECT_TRUE(Accepts(u"2.0", valid, small));
}

// Every bit of the installer matters: a sample of single-bit flips spread over the whole file,
// the first and the last bit included, must each be refused.
TEST(CheckInstallerSignature, RefusesSingleBitFlipsOfTheInstaller) {
  const std::vector<char> small = test::SmallInstaller();
  const size_t bits = small.size() * 8;
  std::vector<size_t> positions = {0, 7, bits - 8, bits - 1};
  for (size_t bit = 3; bit < bits; bit += 29) positions.push_back(bit);
  ASSERT_GE(positions.size(), 1000u);

  std::vector<char> flipped = small;
  size_t refused = 0;
  for (size_t bit : positions) {
    flipped[bit / 8] ^= static_cast<char>(1 << (bit % 8));
    if (!Accepts(u"2.0", kSmallSig, flipped))
      ++refused;
    else
      ADD_FAILURE() << "accepted with bit " << bit << " flipped";
    flipped[bit / 8] = small[bit / 8];
  }
  EXPECT_EQ(refused, positions.size());
  EXPECT_TRUE(Accepts(u"2.0", kSmallSig, flipped));
}

TEST(CheckInstallerSignature, RefusesSingleBitFlipsOfTheSignature) {
  const std::vector<char> small = test::SmallInstaller();
  const std::vector<std::uint8_t> raw = *DecodeBase64(kSmallSig);
  for (size_t bit = 0; bit < raw.size() * 8; ++bit) {
    std::vector<std::uint8_t> flipped = raw;
    flipped[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
    std::string text = EncodeBase64(flipped);
    EXPECT_FALSE(Accepts(u"2.0", std::u16string(text.begin(), text.end()), small)) << "bit " << bit;
  }
}

TEST(CheckInstallerSignature, RefusesUnusableKeys) {
  const std::vector<char> small = test::SmallInstaller();
  platform::P256PublicKey compressedTag = kTestKey;
  compressedTag[0] = 0x02;
  platform::P256PublicKey offCurve = kTestKey;
  offCurve[64] ^= 1;
  platform::P256PublicKey zero{};
  platform::P256PublicKey zeroPoint{};
  zeroPoint[0] = 0x04;
  for (const auto& key : {compressedTag, offCurve, zero, zeroPoint}) {
    EXPECT_FALSE(Accepts(u"2.0", kSmallSig, small, key));
  }
}

// The hash runs over the pieces as they come: however the installer is cut, the result is the
// same, empty pieces included.
TEST(CheckInstallerSignature, InstallerInPieces) {
  const std::vector<char> large = test::LargeInstaller();
  const std::span<const char> all(large);
  for (size_t pieceSize : {1u, 7u, 4096u, 65536u, 65537u, 200002u}) {
    std::vector<std::span<const char>> pieces;
    for (size_t at = 0; at < all.size(); at += pieceSize) {
      pieces.push_back(all.subspan(at, std::min(pieceSize, all.size() - at)));
      if (at == 0) pieces.push_back({});
    }
    SCOPED_TRACE(pieceSize);
    EXPECT_TRUE(Accepts(u"3.25", kLargeSig, pieces));
    // One changed byte in the last piece.
    std::vector<char> changed(pieces.back().begin(), pieces.back().end());
    changed.back() ^= 0x40;
    pieces.back() = changed;
    EXPECT_FALSE(Accepts(u"3.25", kLargeSig, pieces));
  }
  EXPECT_FALSE(Accepts(u"3.25", kLargeSig, std::span<const std::span<const char>>()));
}

test::BodyInBlocks BodyOf(const std::vector<char>& bytes, size_t chunk) {
  test::BodyInBlocks body;
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    body.Append(bytes.data() + at, std::min(chunk, bytes.size() - at));
  }
  return body;
}

TEST(CheckInstallerSignature, BodyOfSeveralBlocks) {
  std::vector<char> large = test::LargeInstaller();
  test::BodyInBlocks body = BodyOf(large, 1000);
  ASSERT_GE(body.Blocks().size(), 2u);
  EXPECT_NO_THROW(CheckBody(u"3.25", kLargeSig, body));
  EXPECT_THROW(CheckBody(u"3.3", kLargeSig, body), ESignatureError);

  // A flip in each block in turn.
  size_t offset = 0;
  for (std::span<const char> block : body.Blocks()) {
    std::vector<char> flipped = large;
    flipped[offset + block.size() / 2] ^= 0x01;
    offset += block.size();
    EXPECT_THROW(CheckBody(u"3.25", kLargeSig, BodyOf(flipped, 1000)), ESignatureError);
  }
  EXPECT_EQ(offset, large.size());
}

TEST(InstallerSignatureCheck, ChecksBodiesUnderTheKey) {
  std::vector<char> small = test::SmallInstaller();
  test::BodyInBlocks body = BodyOf(small, small.size());
  auto check = InstallerSignatureCheck(kTestKey, Entries(u"2.0"), kSmallSig);
  ASSERT_TRUE(check);
  EXPECT_NO_THROW(test::RunCheck(check, body));
  // Each download gets a check of its own: the one before leaves nothing behind.
  EXPECT_NO_THROW(test::RunCheck(check, body));
  EXPECT_THROW(test::RunCheck(InstallerSignatureCheck(kTestKey, Entries(u"2.0"), u""), body),
               ESignatureError);
  EXPECT_THROW(test::RunCheck(InstallerSignatureCheck(kTestKey, Entries(u"2.1"), kSmallSig), body),
               ESignatureError);
  body.Append("x", 1);
  EXPECT_THROW(test::RunCheck(check, body), ESignatureError);
}

TEST(InstallerSignatureCheck, NoKeyNoCheck) {
  EXPECT_FALSE(InstallerSignatureCheck(std::nullopt, Entries(u"2.0"), u""));
}

TEST(WithInstallerSignatureCheck, RunsAfterTheCallersCheck) {
  std::vector<char> small = test::SmallInstaller();
  test::BodyInBlocks body = BodyOf(small, small.size());
  std::vector<std::string> order;
  net::FetchOptions options;
  options.readTimeoutMs = 1234;
  options.bodyChecks.push_back(test::WholeBodyCheck([&](const std::string& whole) {
    EXPECT_EQ(whole.size(), small.size());
    order.push_back("caller");
  }));
  const auto runAll = [&](const net::FetchOptions& withChecks) {
    for (const net::BodyCheckFactory& check : withChecks.bodyChecks) test::RunCheck(check, body);
  };

  net::FetchOptions unsignedOptions = WithInstallerSignatureCheck(options, std::nullopt, {}, u"");
  EXPECT_EQ(unsignedOptions.readTimeoutMs, 1234);
  EXPECT_EQ(unsignedOptions.bodyChecks.size(), 1u);
  runAll(unsignedOptions);
  EXPECT_EQ(order, std::vector<std::string>{"caller"});

  net::FetchOptions good =
      WithInstallerSignatureCheck(options, kTestKey, Entries(u"2.0"), kSmallSig);
  EXPECT_EQ(good.readTimeoutMs, 1234);
  ASSERT_EQ(good.bodyChecks.size(), 2u);
  order.clear();
  EXPECT_NO_THROW(runAll(good));
  EXPECT_EQ(order, std::vector<std::string>{"caller"});

  // A caller's refusal comes first and stands.
  options.bodyChecks = {
      test::WholeBodyCheck([](const std::string&) { throw EOutOfMemory(u"Out of memory"); })};
  net::FetchOptions refusing = WithInstallerSignatureCheck(options, kTestKey, Entries(u"2.0"), u"");
  EXPECT_THROW(runAll(refusing), EOutOfMemory);

  net::FetchOptions alone = WithInstallerSignatureCheck({}, kTestKey, Entries(u"2.0"), kSmallSig);
  EXPECT_NO_THROW(runAll(alone));
  body.Append("x", 1);
  EXPECT_THROW(runAll(alone), ESignatureError);
}

// The bytes a build carries, against those openssl printed when the key was made.
TEST(BuiltInUpdateKey, IsTheKeyOfTheBuild) {
#if !defined(VANTO_BUILT_IN_KEY_IS)
  GTEST_SKIP() << "built with a key other than the test key, whose bytes this test does not know";
#elif VANTO_BUILT_IN_KEY_IS == 0
  EXPECT_EQ(BuiltInUpdateKey(), std::nullopt);
#else
  ASSERT_EQ(BuiltInUpdateKey(), kTestKey);
  EXPECT_TRUE(Accepts(u"2.0", kSmallSig, test::SmallInstaller(), *BuiltInUpdateKey()));
#endif
}

TEST(SignedMessagePrefix, Layout) {
  EXPECT_EQ(SignedMessagePrefix("2.0", "setup.exe"),
            std::string("vanto-update-v2\n2.0\nsetup.exe\n"));
  EXPECT_EQ(SignedMessagePrefix("", ""), std::string("vanto-update-v2\n\n\n"));
}

}  // namespace
}  // namespace vanto::update
