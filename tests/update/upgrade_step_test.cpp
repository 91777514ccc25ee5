#include "update/upgrade_step.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/errors.h"
#include "platform/utf.h"
#include "support/scripted_server.h"
#include "update/fake_services.h"
#include "update/recording_host.h"
#include "update/server_info.h"
#include "update/test_folder.h"

namespace vanto::update {
namespace {

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;
using test::FakeServices;
using test::OkResponse;
using test::RecordingView;
using test::RequestLine;
using test::ScriptedServer;
using test::TestFolder;

const std::string kDownloading =
    "state: \xEC\x97\x85\xEA\xB7\xB8\xEB\xA0\x88\xEC\x9D\xB4\xEB\x93\x9C"
    "\xED\x99\x94\xEC\x9D\xBC \xEB\x8B\xA4\xEC\x9A\xB4\xEB\xA1\x9C"
    "\xEB\x93\x9C\xEC\xA4\x91...";
const std::string kDownloaded =
    "state: " + Utf16ToUtf8(
                    u"\uB2E4\uC6B4\uB85C\uB4DC\uAC00 \uC644\uB8CC \uB418\uC5C8\uC2B5\uB2C8\uB2E4. "
                    u"\uC7A0\uC2DC\uB9CC \uAE30\uB2E4\uB824 \uC8FC\uC138\uC694...");

class UpgradeStepTest : public ::testing::Test {
 protected:
  UpgradeStepTest() {
    state_.TempDir = folder_.WithSeparator();
    state_.InfoServerDir = Utf8ToUtf16(server_.BaseUrl() + "setup/");
    state_.ExeDir = u"vanto_setup.exe";
    // What the information step left behind.
    state_.DownloadUrl = Utf8ToUtf16(server_.BaseUrl()) + u"newvanto.ini";
    state_.LocalFile = folder_.WithSeparator() + u"newvanto.ini";
    fetch_.readTimeoutMs = 5000;
  }

  void Run() { UpgradeStep(state_, services_, view_, fetch_); }

  TestFolder folder_;
  ScriptedServer server_;
  FakeServices services_;
  RecordingView view_;
  UpdateRunState state_;
  net::FetchOptions fetch_;
};

TEST_F(UpgradeStepTest, DecisionTable) {
  const struct {
    double local;
    double server;
    bool downloads;
  } cases[] = {
      {1.5, 2.0, true},  {2.0, 2.0, false},   {2.1, 2.0, false},
      {0.0, 0.0, false}, {1.1, 1.9, true},    {1.9, 1.1, false},
      {-1.0, 0.0, true}, {0.0, 1e-300, true}, {5.0, 0.0, false},  // an information file without VER
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("local " + std::to_string(c.local) + " server " + std::to_string(c.server));
    FakeServices services;
    RecordingView view;
    UpdateRunState state = state_;
    state.LocalVersion = c.local;
    state.ServerVersion = c.server;
    EXPECT_EQ(ServerIsNewer(state), c.downloads);
    const int before = server_.Connections();
    if (c.downloads) server_.AddResponse(OkResponse("MZ installer"));
    UpgradeStep(state, services, view, fetch_);
    EXPECT_EQ(server_.Connections() - before, c.downloads ? 1 : 0);
    EXPECT_EQ(services.Count("ShellOpen"), c.downloads ? 1 : 0);
    EXPECT_EQ(state.InstallerOpened, c.downloads);
    EXPECT_EQ(view.events.back(), "close");
  }
}

// Both downloads' places are the texts as read, joined: nothing trimmed, resolved or encoded.
TEST(DownloadPlaceTest, Table) {
  const struct {
    bool installer;
    const char16_t* base;
    const char16_t* name;
    const char16_t* url;
    const char16_t* path;
  } cases[] = {
      {false, u"http://h/v/", u"newvanto.ini", u"http://h/v/newvanto.ini", u"C:\\T\\newvanto.ini"},
      {false, u"http://h/v", u"..\\x.ini", u"http://h/v..\\x.ini", u"C:\\T\\..\\x.ini"},
      {true, u"http://h/v/", u"setup.exe", u"http://h/v/setup.exe", u"C:\\T\\setup.exe"},
      {true, u"http://h/v/", u"..\\setup.exe", u"http://h/v/..\\setup.exe",
       u"C:\\T\\..\\setup.exe"},
      {true, u"http://h/v/", u" a b ", u"http://h/v/ a b ", u"C:\\T\\ a b "},
      {true, u"http://h/v/", u"", u"http://h/v/", u"C:\\T\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    UpdateRunState state;
    state.TempDir = u"C:\\T\\";
    (c.installer ? state.InfoServerDir : state.RegServerDir) = c.base;
    (c.installer ? state.ExeDir : state.RegInfoFName) = c.name;
    // The other download's texts must not leak into this one's place.
    (c.installer ? state.RegServerDir : state.InfoServerDir) = u"http://other/";
    (c.installer ? state.RegInfoFName : state.ExeDir) = u"other";
    const DownloadPlace place = c.installer ? InstallerPlace(state) : InformationFilePlace(state);
    EXPECT_EQ(Utf16ToUtf8(place.url), Utf16ToUtf8(c.url));
    EXPECT_EQ(Utf16ToUtf8(place.path), Utf16ToUtf8(c.path));
  }
}

TEST_F(UpgradeStepTest, DownloadsOpensAndClosesInOrder) {
  state_.LocalVersion = 1.5;
  state_.ServerVersion = 2.0;
  server_.AddResponse(OkResponse("MZ installer bytes"));
  Run();

  const std::vector<std::string> expected = {
      "name: ", "count: ", "name: vanto_setup.exe", kDownloading, "paint", kDownloaded,
      "paint",  "close",
  };
  EXPECT_EQ(view_.events, expected);
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(server_.Requests()[0]), "GET /setup/vanto_setup.exe HTTP/1.1");
  EXPECT_EQ(state_.DownloadUrl, Utf8ToUtf16(server_.BaseUrl()) + u"setup/vanto_setup.exe");
  EXPECT_EQ(state_.LocalFile, folder_.WithSeparator() + u"vanto_setup.exe");
  EXPECT_EQ(folder_.Read(state_.LocalFile), "MZ installer bytes");
  EXPECT_EQ(services_.calls,
            std::vector<std::string>{"ShellOpen " + Utf16ToUtf8(state_.LocalFile)});
  EXPECT_TRUE(state_.InstallerOpened);
}

TEST_F(UpgradeStepTest, EqualVersionsOpenNothing) {
  state_.LocalVersion = 2.0;
  state_.ServerVersion = 2.0;
  const std::u16string infoFile = state_.LocalFile;
  Run();

  EXPECT_EQ(view_.events, (std::vector<std::string>{kDownloaded, "paint", "close"}));
  EXPECT_TRUE(services_.calls.empty());
  EXPECT_FALSE(state_.InstallerOpened);
  EXPECT_EQ(state_.LocalFile, infoFile);
  EXPECT_EQ(server_.Connections(), 0);
}

TEST_F(UpgradeStepTest, ShellOpenResultDecidesWhetherTheInstallerRan) {
  const struct {
    std::intptr_t result;
    bool opened;
  } cases[] = {{0, false}, {2, false}, {31, false}, {32, false}, {33, true}, {42, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    FakeServices services;
    services.shellOpenResult = c.result;
    RecordingView view;
    UpdateRunState state = state_;
    state.ServerVersion = 1;
    server_.AddResponse(OkResponse("MZ"));
    UpgradeStep(state, services, view, fetch_);
    EXPECT_EQ(state.InstallerOpened, c.opened);
    EXPECT_EQ(view.events.back(), "close");
  }
}

TEST_F(UpgradeStepTest, FailedDownloadLeavesTheDownloadingText) {
  state_.ServerVersion = 1;
  server_.AddResponse("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  try {
    Run();
    ADD_FAILURE() << "no error";
  } catch (const EIdHTTPProtocolException& error) {
    EXPECT_EQ(error.ErrorCode(), 404);
  }
  const std::vector<std::string> expected = {
      "name: ", "count: ", "name: vanto_setup.exe", kDownloading, "paint",
  };
  EXPECT_EQ(view_.events, expected);
  EXPECT_TRUE(services_.calls.empty());
  EXPECT_FALSE(state_.InstallerOpened);

  // Running the step again retries the whole of it.
  server_.AddResponse(OkResponse("MZ"));
  view_.events.clear();
  Run();
  EXPECT_EQ(view_.events.size(), 8u);
  EXPECT_EQ(services_.Count("ShellOpen"), 1);
  EXPECT_TRUE(state_.InstallerOpened);
}

TEST_F(UpgradeStepTest, EmptyExeDirFetchesTheBaseUrlAndCannotSaveIt) {
  state_.ServerVersion = 1;
  state_.ExeDir.clear();
  server_.AddResponse(OkResponse("<html>index</html>"));
  EXPECT_THROW(Run(), EFCreateError);
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(server_.Requests()[0]), "GET /setup/ HTTP/1.1");
  EXPECT_EQ(state_.LocalFile, state_.TempDir);
  EXPECT_EQ(view_.events.back(), "paint");
  EXPECT_TRUE(services_.calls.empty());
}

// The installer's name goes into the URL and the local path as it was read; only the request
// line that reaches the server shows how the URL was sent.
TEST_F(UpgradeStepTest, NamesAreUsedUnchanged) {
  state_.ServerVersion = 1;
  state_.ExeDir = u"\uC124\uCE58 \uD30C\uC77C.exe";
  server_.AddResponse(OkResponse("MZ"));
  Run();
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(server_.Requests()[0]),
            "GET /setup/%EC%84%A4%EC%B9%98%20%ED%8C%8C%EC%9D%BC.exe HTTP/1.1");
  const std::u16string saved = folder_.WithSeparator() + u"\uC124\uCE58 \uD30C\uC77C.exe";
  EXPECT_EQ(state_.LocalFile, saved);
  EXPECT_EQ(folder_.Read(saved), "MZ");
  EXPECT_EQ(view_.events[2], "name: \xEC\x84\xA4\xEC\xB9\x98 \xED\x8C\x8C\xEC\x9D\xBC.exe");
}

}  // namespace
}  // namespace vanto::update
