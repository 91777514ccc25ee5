// The signature check as the update runs it: the information file's entries, the installer
// download of the upgrade step, and what is left behind when an installer is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/utf.h"
#include "signature/signature_vectors.h"
#include "support/body_checks.h"
#include "support/scripted_server.h"
#include "update/fake_services.h"
#include "update/recording_host.h"
#include "update/server_info.h"
#include "update/test_folder.h"
#include "update/update_signature.h"
#include "update/upgrade_step.h"

namespace vanto::update {
namespace {

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;
using test::FakeServices;
using test::OkResponse;
using test::RecordingView;
using test::ScriptedServer;
using test::TestFolder;

const std::string kDownloading = Utf16ToUtf8(u"state: 업그레이드화일 다운로드중...");

std::string SmallInstallerText() {
  std::vector<char> bytes = test::SmallInstaller();
  return std::string(bytes.begin(), bytes.end());
}

TEST(SignedServerInfo, TheSignatureIsReadOnlyWithAKey) {
  const std::u16string ini =
      u"[VANTO_INFO]\r\nVER=2.0\r\nServerDir=http://h/\r\n"
      u"[VANTO_INFO_PC]\r\nExeDir=setup.exe\r\nExeSig=c2lnbg==\r\n";
  for (bool withKey : {false, true}) {
    SCOPED_TRACE(withKey);
    FakeServices services;
    services.iniFiles[u"info.ini"] = ini;
    UpdateRunState state;
    state.Info = InfoReader{u"info.ini"};
    if (withKey) state.UpdateKey = test::kTestKey;
    ReadServerInfo(state, services);

    EXPECT_EQ(state.ServerVersion, 2.0);
    EXPECT_EQ(state.ServerVerText, u"2.0");
    EXPECT_EQ(state.ExeDir, u"setup.exe");
    EXPECT_EQ(state.ExeSig, withKey ? u"c2lnbg==" : u"");
  }
}

TEST(SignedServerInfo, VersionTextIsKeptAsWritten) {
  const std::pair<std::u16string, double> cases[] = {
      {u"2.00", 2.0}, {u"10", 10.0}, {u"", 0.0}, {u"new", 0.0}};
  for (const auto& [text, number] : cases) {
    FakeServices services;
    services.iniFiles[u"info.ini"] = u"[VANTO_INFO]\r\nVER=" + text + u"\r\n";
    UpdateRunState state;
    state.Info = InfoReader{u"info.ini"};
    ReadServerInfo(state, services);
    EXPECT_EQ(state.ServerVerText, text);
    EXPECT_EQ(state.ServerVersion, number);
  }
}

// The key's bytes as openssl printed them when the key was made, not as the build derived them.
TEST(SignedServerInfo, TheProcessRunStateCarriesTheBuiltInKey) {
#if !defined(VANTO_BUILT_IN_KEY_IS)
  GTEST_SKIP() << "built with a key other than the test key, whose bytes this test does not know";
#elif VANTO_BUILT_IN_KEY_IS == 0
  EXPECT_EQ(RunState().UpdateKey, std::nullopt);
#elif VANTO_BUILT_IN_KEY_IS == 1
  EXPECT_EQ(RunState().UpdateKey, test::kTestKey);
#endif
}

class SignedUpgradeTest : public ::testing::Test {
 protected:
  SignedUpgradeTest() {
    state_.TempDir = folder_.WithSeparator();
    state_.InfoServerDir = Utf8ToUtf16(server_.BaseUrl() + "setup/");
    state_.ExeDir = test::kSignedExeDir;
    state_.LocalVersion = 1.5;
    state_.ServerVersion = 2.0;
    state_.ServerVerText = u"2.0";
    state_.ExeSig = test::kSmallSig;
    state_.UpdateKey = test::kTestKey;
    fetch_.readTimeoutMs = 5000;
  }

  void Run() { UpgradeStep(state_, services_, view_, fetch_); }
  std::filesystem::path Installer() const { return folder_.Path() / "vanto_setup.exe"; }

  TestFolder folder_;
  ScriptedServer server_;
  FakeServices services_;
  RecordingView view_;
  UpdateRunState state_;
  net::FetchOptions fetch_;
};

TEST_F(SignedUpgradeTest, SignedInstallerIsSavedAndOpened) {
  server_.AddResponse(OkResponse(SmallInstallerText()));
  Run();
  EXPECT_EQ(folder_.Read(state_.LocalFile), SmallInstallerText());
  EXPECT_EQ(services_.Count("ShellOpen"), 1);
  EXPECT_TRUE(state_.InstallerOpened);
  EXPECT_EQ(view_.events.back(), "close");
}

TEST_F(SignedUpgradeTest, RefusedInstallersAreNeitherSavedNorOpened) {
  const std::string installer = SmallInstallerText();
  std::string flipped = installer;
  flipped[1234] ^= 0x10;
  // An ExeDir that is not a plain name of the download folder is refused before it is asked for.
  const struct {
    const char* name;
    std::u16string exeSig;
    std::u16string verText;
    std::string body;
    std::u16string exeDir = test::kSignedExeDir;
    int requests = 1;
  } cases[] = {
      {"no ExeSig", u"", u"2.0", installer},
      {"malformed ExeSig", u"not base64!", u"2.0", installer},
      {"63-byte ExeSig", Utf8ToUtf16(EncodeBase64(std::vector<std::uint8_t>(63, 1))), u"2.0",
       installer},
      {"signed by another key", test::kSmallSigOtherKey, u"2.0", installer},
      {"signed for another version", test::kSmallSig, u"3.0", installer},
      {"truncated installer", test::kSmallSig, u"2.0", installer.substr(0, 4000)},
      {"one bit changed", test::kSmallSig, u"2.0", flipped},
      {"an empty body", test::kSmallSig, u"2.0", ""},
      {"the earlier message, without ExeDir", test::kSmallSigOldFormat, u"2.0", installer},
      {"genuine pair, ExeDir of another file", test::kSmallSig, u"2.0", installer, u"thesis.docx"},
      {"genuine pair, ExeDir with a Korean name", test::kSmallSig, u"2.0", installer,
       u"새 설치.exe"},
      {"ExeDir one folder up", test::kSmallSig, u"2.0", installer, u"..\\vanto_setup.exe", 0},
      {"ExeDir one folder up, slash", test::kSmallSig, u"2.0", installer, u"../vanto_setup.exe", 0},
      {"ExeDir in a sub-folder", test::kSmallSig, u"2.0", installer, u"sub\\vanto_setup.exe", 0},
      {"ExeDir on a drive", test::kSmallSig, u"2.0", installer, u"C:vanto_setup.exe", 0},
      {"ExeDir an absolute path", test::kSmallSig, u"2.0", installer,
       u"C:\\Users\\u\\Desktop\\thesis.docx", 0},
      {"ExeDir a stream", test::kSmallSig, u"2.0", installer, u"vanto_setup.exe:x", 0},
      {"ExeDir a device", test::kSmallSig, u"2.0", installer, u"PRN", 0},
      {"ExeDir a device with an extension", test::kSmallSig, u"2.0", installer, u"com1.exe", 0},
      {"ExeDir a device with a colon", test::kSmallSig, u"2.0", installer, u"nul:", 0},
      {"ExeDir with a final dot", test::kSmallSig, u"2.0", installer, u"vanto_setup.exe.", 0},
      {"ExeDir with a final blank", test::kSmallSig, u"2.0", installer, u"vanto_setup.exe ", 0},
      {"ExeDir of dots only", test::kSmallSig, u"2.0", installer, u"..", 0},
      {"ExeDir empty", test::kSmallSig, u"2.0", installer, u"", 0},
      {"ExeDir with a lone surrogate", test::kSmallSig, u"2.0", installer,
       std::u16string(u"vanto_setup") + char16_t(0xD800) + u".exe", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    RecordingView view;
    ScriptedServer server;
    UpdateRunState state = state_;
    state.InfoServerDir = Utf8ToUtf16(server.BaseUrl() + "setup/");
    state.ExeSig = c.exeSig;
    state.ServerVerText = c.verText;
    state.ExeDir = c.exeDir;
    server.AddResponse(OkResponse(c.body));
    try {
      UpgradeStep(state, services, view, fetch_);
      ADD_FAILURE() << "accepted";
    } catch (const ESignatureError& error) {
      EXPECT_EQ(error.Message(), u"업그레이드화일의 서명이 올바르지 않습니다.");
    }
    // Nothing under the installer's name, nor its staging file.
    EXPECT_EQ(test::NamesIn(folder_.Path()), std::vector<std::string>{});
    EXPECT_EQ(services.Count("ShellOpen"), 0);
    EXPECT_FALSE(state.InstallerOpened);
    EXPECT_EQ(server.Requests().size(), size_t(c.requests));
    // The window keeps the downloading text and stays open.
    const std::vector<std::string> tail(view.events.end() - 2, view.events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{kDownloading, "paint"}));
  }
}

TEST_F(SignedUpgradeTest, RefusalLeavesAnEarlierDownloadAsItWas) {
  std::ofstream(Installer(), std::ios::binary) << "MZ earlier download";
  server_.AddResponse(OkResponse("MZ forged installer"));
  EXPECT_THROW(Run(), ESignatureError);
  EXPECT_EQ(folder_.Read(Installer().u16string()), "MZ earlier download");
  EXPECT_EQ(test::NamesIn(folder_.Path()), std::vector<std::string>{"vanto_setup.exe"});
}

TEST_F(SignedUpgradeTest, RetryAfterARefusalGetsTheGenuineInstaller) {
  server_.AddResponse(OkResponse("MZ forged installer"));
  EXPECT_THROW(Run(), ESignatureError);
  EXPECT_FALSE(state_.InstallerOpened);

  server_.AddResponse(OkResponse(SmallInstallerText()));
  view_.events.clear();
  Run();
  EXPECT_EQ(folder_.Read(state_.LocalFile), SmallInstallerText());
  EXPECT_TRUE(state_.InstallerOpened);
  EXPECT_EQ(view_.events.back(), "close");
}

TEST_F(SignedUpgradeTest, WithoutAKeyNothingIsChecked) {
  state_.UpdateKey.reset();
  state_.ExeSig.clear();
  server_.AddResponse(OkResponse("MZ unsigned"));
  Run();
  EXPECT_EQ(folder_.Read(state_.LocalFile), "MZ unsigned");
  EXPECT_TRUE(state_.InstallerOpened);
}

TEST_F(SignedUpgradeTest, ACallersBodyCheckStillRuns) {
  int callerChecks = 0;
  fetch_.bodyChecks.push_back(test::WholeBodyCheck([&](const std::string&) { ++callerChecks; }));
  server_.AddResponse(OkResponse(SmallInstallerText()));
  Run();
  EXPECT_EQ(callerChecks, 1);
  EXPECT_TRUE(state_.InstallerOpened);

  server_.AddResponse(OkResponse("MZ forged installer"));
  EXPECT_THROW(Run(), ESignatureError);
  EXPECT_EQ(callerChecks, 2);
}

}  // namespace
}  // namespace vanto::update
