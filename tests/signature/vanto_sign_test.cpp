#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "installer_signer.h"
#include "signature/signature_vectors.h"
#include "support/temp_dir.h"
#include "update/update_signature.h"

namespace vanto::sign {
namespace {

const std::string kData = VANTO_SIGNATURE_DATA;
const std::string kExeDir = "vanto_setup.exe";

class VantoSign : public testing::Test {
 protected:
  std::string Installer(const std::vector<char>& bytes) {
    std::string path = (folder_.Path() / "installer.exe").string();
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
  }

  test::TempDir folder_;
};

std::u16string ExeSig(const platform::P256Signature& signature) {
  std::string text = update::EncodeBase64(signature);
  return std::u16string(text.begin(), text.end());
}

bool Verifies(const platform::P256Signature& signature, std::u16string_view version,
              const std::vector<char>& installer,
              std::u16string_view exeDir = test::kSignedExeDir) {
  std::span<const char> whole(installer);
  try {
    update::CheckInstallerSignature(
        test::kTestKey, {std::u16string(version), std::u16string(exeDir)}, ExeSig(signature),
        std::span<const std::span<const char>>(&whole, 1));
    return true;
  } catch (const update::ESignatureError&) {
    return false;
  }
}

// About one signature in 128 has an r or s below 2^248, which DER writes in fewer than 32 bytes;
// the entry must still carry them as 32 bytes with leading zeros. Sign until both kinds were seen.
TEST_F(VantoSign, SignaturesVerifyIncludingShortRAndS) {
  std::vector<char> bytes = test::SmallInstaller();
  std::string installer = Installer(bytes);
  bool shortSeen = false;
  int signatures = 0;
  for (; signatures < 5000 && !(shortSeen && signatures >= 20); ++signatures) {
    platform::P256Signature signature =
        SignInstaller(kData + "/test-private.pem", "2.0", kExeDir, installer);
    ASSERT_TRUE(Verifies(signature, u"2.0", bytes)) << signatures;
    shortSeen = shortSeen || signature[0] == 0 || signature[32] == 0;
  }
  EXPECT_TRUE(shortSeen) << "no short r or s in " << signatures << " signatures";
}

TEST_F(VantoSign, BindsTheVersionTextAndExeDirAsUtf8) {
  std::vector<char> bytes = test::SmallInstaller();
  platform::P256Signature signature =
      SignInstaller(kData + "/test-private.pem", "2.0 베타", "새 설치.exe", Installer(bytes));
  EXPECT_TRUE(Verifies(signature, u"2.0 베타", bytes, u"새 설치.exe"));
  EXPECT_FALSE(Verifies(signature, u"2.0", bytes, u"새 설치.exe"));
  EXPECT_FALSE(Verifies(signature, u"2.0 베타", bytes, u"새 설치2.exe"));
}

TEST_F(VantoSign, EmptyAndLargeInstallers) {
  EXPECT_TRUE(
      Verifies(SignInstaller(kData + "/test-private.pem", "1", kExeDir, Installer({})), u"1", {}));
  std::vector<char> large = test::LargeInstaller();
  EXPECT_TRUE(
      Verifies(SignInstaller(kData + "/test-private.pem", "3.25", kExeDir, Installer(large)),
               u"3.25", large));
}

TEST_F(VantoSign, SignatureOfAnotherKeyDoesNotVerify) {
  std::vector<char> bytes = test::SmallInstaller();
  EXPECT_FALSE(
      Verifies(SignInstaller(kData + "/other-private.pem", "2.0", kExeDir, Installer(bytes)),
               u"2.0", bytes));
}

TEST_F(VantoSign, Refusals) {
  std::string installer = Installer(test::SmallInstaller());
  const std::string key = kData + "/test-private.pem";
  struct Case {
    std::string key, version, installer, message;
    std::string exeDir = kExeDir;
  };
  const std::string notPlain = "not a plain file name";
  const Case cases[] = {
      {key, "", installer, "version text is empty"},
      {key, " 2.0", installer, "blank"},
      {key, "2.0\t", installer, "blank"},
      {key, "2.0\n", installer, "line break"},
      {key, "2\r0", installer, "line break"},
      {kData + "/missing.pem", "2.0", installer, "cannot read the key file"},
      {kData + "/test-public.pem", "2.0", installer, "no private key"},
      {kData + "/p384-private.pem", "2.0", installer, "not an ECDSA P-256"},
      {key, "2.0", (folder_.Path() / "missing.exe").string(), "cannot read the installer"},
      {key, "2.0", folder_.Path().string(), "cannot read the installer"},
      {key, "2.0", installer, notPlain, ""},
      {key, "2.0", installer, notPlain, "..\\vanto_setup.exe"},
      {key, "2.0", installer, notPlain, "dl/vanto_setup.exe"},
      {key, "2.0", installer, notPlain, "nul"},
      {key, "2.0", installer, notPlain, "vanto_setup.exe."},
      {key, "2.0", installer, notPlain, "vanto_setup.exe\n"},
      {key, "2.0", installer, "not UTF-8", "vanto\xff.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + " | " + c.version + " | " + c.exeDir + " | " + c.installer);
    try {
      SignInstaller(c.key, c.version, c.exeDir, c.installer);
      ADD_FAILURE() << "signed";
    } catch (const SignError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace vanto::sign
