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

// The ExeDir of every signature below but one.
inline constexpr char16_t kSignedExeDir[] = u"vanto_setup.exe";

// SmallInstaller() with VER "2.0".
inline constexpr char16_t kSmallSig[] =
    u"DPzArnsmf6/H8iopu8D4fCNlIJVjS/9/SFtYoGUEQ4VZXkpotggymRwZXNnMCveT9a88F82zkn/YJ3hS2t2DMQ==";
// The same message signed with data/other-private.pem.
inline constexpr char16_t kSmallSigOtherKey[] =
    u"UlA/7fU5+iuC6/Ym/kaJ/C8AUVusnvlYuLN9aODr5F5R4reR/n5TNPVVZZeoHbgKuiR+YzfVWJsZyFw0m29jmA==";
// SmallInstaller() with VER "2.0 베타" (signed as UTF-8).
inline constexpr char16_t kSmallSigKoreanVersion[] =
    u"2Uy8W6XgSkpn2mcbut9+bgB5w/G78rvGj5O1pPZ2CxtOuRAd6yIf96wl2C2fpE0syIjVF2fU6P/YBP8pVG6LOw==";
// SmallInstaller() with VER "2.0" and ExeDir "새 설치.exe" (signed as UTF-8).
inline constexpr char16_t kSmallSigKoreanExeDir[] =
    u"DLarOmHoZQDHug3epE4hu7snU3YkrvqXcTfUuWXyfvWMIbWrfhvVApHwcgv6JwGPClRoNVgkHUr1XXztbqD/Cg==";
// SmallInstaller() with VER "2.0" in the earlier message, which bound no ExeDir:
// "vanto-update-v1" LF VER LF and the installer.
inline constexpr char16_t kSmallSigOldFormat[] =
    u"xJnImeFJuLlhKhW+ZGWamFnSVOMvQmCEA/uQl4wvoic6KYsyUFx0Vf19MjNDb4D02dnevSEAK8BffeFNntgwsA==";
// An empty installer with VER "2.0".
inline constexpr char16_t kEmptySig[] =
    u"l/9rHTPDY703i5w6UHa/9AP2TRFvL6/QYGnYxgnGf3RqphoF1fYDLSDVNYrxl47QsCMUEMHwm8Z2WYtRQiApcg==";
// LargeInstaller() with VER "3.25".
inline constexpr char16_t kLargeSig[] =
    u"lhaq5zvSS7MGbiVw4rr/2Yk7FGJgwE2kxoZy9T6igHeGH4WacX/QlIWdk0m/LzlcwD+vOqYUy+fV6cuGOYfzWw==";

}  // namespace vanto::test
