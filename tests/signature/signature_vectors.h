// Signatures made with the TEST ONLY keys in data/ by data/make-vectors.sh, over the sample
// installers below. They are committed so that the Windows tests need no signing library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/signature.h"

namespace vanto::test {

// data/test-public.pem
inline constexpr platform::P256PublicKey kTestKey = {
    0x04, 0x68, 0xf7, 0x02, 0x56, 0x3f, 0x0f, 0xbe, 0x6d, 0xa0, 0xd8, 0x60, 0x63,
    0x8e, 0x6c, 0x15, 0x23, 0xf8, 0xba, 0xa9, 0x8a, 0x99, 0xe7, 0x09, 0xda, 0x04,
    0xbc, 0x93, 0xce, 0xfa, 0x3a, 0xbb, 0x8d, 0x5b, 0xf9, 0x33, 0x1c, 0x86, 0xa8,
    0x70, 0x6c, 0x0a, 0xde, 0x4c, 0x5f, 0x87, 0x0a, 0x29, 0x9e, 0x9c, 0x39, 0x33,
    0x49, 0x26, 0xbb, 0xa3, 0x4e, 0x03, 0x1e, 0x7c, 0xda, 0x66, 0xda, 0xc3, 0x3a};

// `size` bytes of xorshift32 from `seed`, as make-vectors.sh makes them.
inline std::vector<char> SampleInstaller(size_t size, std::uint32_t seed) {
  std::vector<char> bytes(size);
  std::uint32_t state = seed;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state & 0xFF);
  }
  return bytes;
}

inline std::vector<char> SmallInstaller() {
  return SampleInstaller(4099, 1);
}
inline std::vector<char> LargeInstaller() {
  return SampleInstaller(200003, 2);
}

// SmallInstaller() with VER "2.0".
inline constexpr char16_t kSmallSig[] =
    u"xJnImeFJuLlhKhW+ZGWamFnSVOMvQmCEA/uQl4wvoic6KYsyUFx0Vf19MjNDb4D02dnevSEAK8BffeFNntgwsA==";
// The same message signed with data/other-private.pem.
inline constexpr char16_t kSmallSigOtherKey[] =
    u"gOFm9vI9Na2J57Bt/mHXZhKqFCaZIHfOvYrlbQb5c+FbdW2eg//Xzti4Y0dqtoTHP4vaC+IjZ6y8Jj5fjmGv3w==";
// SmallInstaller() with VER "2.0 베타" (signed as UTF-8).
inline constexpr char16_t kSmallSigKoreanVersion[] =
    u"PZFSk7d6nbZp1RtzyVMf5rfTQxSGDB5XpXfbmj2WXZb3/Cmw1rojGG7nutJnV3tT75jypBo6GNTJF91ZOoFCOQ==";
// An empty installer with VER "2.0".
inline constexpr char16_t kEmptySig[] =
    u"ZLjRSiZCzuccrvbzvRXyyfI0onW68GvQkrsU9qp7pP4nsUZITT7SQsA053ygkqUgDL1WyTkFGH+Zd3RRhYrjmA==";
// LargeInstaller() with VER "3.25".
inline constexpr char16_t kLargeSig[] =
    u"qsm+WcjpNvGh6f+7RynH/bYTXqcwoSEB6YvfeWyX5xdyu23SX7+A3uAfSI56px/Or48xj93fNIN3dbm5F80pMw==";

}  // namespace vanto::test
