#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "update/update_signature.h"

namespace vanto::update {
namespace {

std::optional<std::string> Decode(std::u16string_view text) {
  std::optional<std::vector<std::uint8_t>> bytes = DecodeBase64(text);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

struct DecodeCase {
  std::u16string_view text;
  std::optional<std::string> bytes;  // nothing: refused
};

using namespace std::string_literals;
using namespace std::string_view_literals;

const DecodeCase kDecodeCases[] = {
    {u""sv, ""s},
    {u"Zg=="sv, "f"s},
    {u"Zm8="sv, "fo"s},
    {u"Zm9v"sv, "foo"s},
    {u"Zm9vYg=="sv, "foob"s},
    {u"Zm9vYmE="sv, "fooba"s},
    {u"Zm9vYmFy"sv, "foobar"s},
    {u"+/+/"sv, "\xfb\xff\xbf"s},
    {u"AAAA"sv, "\0\0\0"s},
    {u"////"sv, "\xff\xff\xff"s},
    {u"AP8A"sv, "\x00\xff\x00"s},
    // Length not a multiple of four: unpadded, short or over-padded.
    {u"Zg"sv, std::nullopt},
    {u"Zg="sv, std::nullopt},
    {u"Zg==="sv, std::nullopt},
    {u"Zm9vY"sv, std::nullopt},
    // Padding where there can be none.
    {u"===="sv, std::nullopt},
    {u"Z==="sv, std::nullopt},
    {u"Zg==Zg=="sv, std::nullopt},
    {u"Zm=v"sv, std::nullopt},
    {u"=m9v"sv, std::nullopt},
    // Stray bits below the last byte.
    {u"Zh=="sv, std::nullopt},
    {u"Zm9="sv, std::nullopt},
    // Characters outside the alphabet, blanks and line breaks included.
    {u" Zm9v"sv, std::nullopt},
    {u"Zm9v "sv, std::nullopt},
    {u"Zm 9v"sv, std::nullopt},
    {u"Zm9v\r\nYmFy"sv, std::nullopt},
    {u"Zm-v"sv, std::nullopt},
    {u"Zm_v"sv, std::nullopt},
    {u"Zm9v\0\0\0\0"sv, std::nullopt},
    {u"Zm9\uFF56"sv, std::nullopt},
    {u"Zm9\u0176"sv, std::nullopt},
};

TEST(DecodeBase64, Cases) {
  for (const DecodeCase& c : kDecodeCases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_EQ(Decode(c.text), c.bytes);
  }
}

TEST(EncodeBase64, IsTheDecodersInverseForEveryLength) {
  std::vector<std::uint8_t> bytes;
  for (int length = 0; length <= 100; ++length) {
    std::string text = EncodeBase64(bytes);
    ASSERT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
    std::optional<std::vector<std::uint8_t>> back =
        DecodeBase64(std::u16string(text.begin(), text.end()));
    ASSERT_TRUE(back) << text;
    EXPECT_EQ(*back, bytes) << text;
    bytes.push_back(static_cast<std::uint8_t>(length * 97 + 13));
  }
}

// Every padded last group: exactly the canonical ones decode, and they encode back unchanged.
TEST(DecodeBase64, EveryPaddedGroupIsCanonicalOrRefused) {
  const std::u16string alphabet =
      u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  int accepted = 0;
  for (char16_t a : alphabet) {
    for (char16_t b : alphabet) {
      for (char16_t c : alphabet + u"=") {
        const std::u16string text = {a, b, c, u'='};  // "ab==" when c is the padding
        std::optional<std::vector<std::uint8_t>> bytes = DecodeBase64(text);
        if (!bytes) continue;
        ++accepted;
        std::string back = EncodeBase64(*bytes);
        EXPECT_EQ(std::u16string(back.begin(), back.end()), text);
      }
    }
  }
  // 2^8 one-byte groups and 2^16 two-byte groups.
  EXPECT_EQ(accepted, 256 + 65536);
}

TEST(EncodeBase64, KnownTexts) {
  auto encode = [](std::string_view text) {
    return EncodeBase64({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  };
  EXPECT_EQ(encode(""), "");
  EXPECT_EQ(encode("f"), "Zg==");
  EXPECT_EQ(encode("fo"), "Zm8=");
  EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(encode("\xfb\xff\xbf"), "+/+/");
}

}  // namespace
}  // namespace vanto::update
