#include "update/server_info.h"

#include <gtest/gtest.h>

#include <string>

#include "net/errors.h"
#include "platform/utf.h"
#include "support/scripted_server.h"
#include "update/fake_services.h"
#include "update/test_folder.h"

namespace vanto::update {
namespace {

using platform::Utf8ToUtf16;
using test::FakeServices;
using test::OkResponse;
using test::RequestLine;
using test::ScriptedServer;
using test::TestFolder;

// --- Reading the file ------------------------------------------------------------------------

struct ReadCase {
  const char* name;
  const char16_t* file;
  char16_t separator;
  double serverVersion;
  const char16_t* serverDir;
  const char16_t* exeDir;
};

const ReadCase kReadCases[] = {
    {"complete",
     u"[VANTO_INFO]\nVER=2.0\nInfoFName=n.ini\nServerDir=http://s/d/\n[VANTOK_INFO]\nInfotxt=t\n"
     u"[VANTO_INFO_PC]\nLocalAlias=a\nExeDir=setup.exe\nExeDirUp=u\n",
     u'.', 2.0, u"http://s/d/", u"setup.exe"},
    {"VER absent", u"[VANTO_INFO]\nServerDir=x/\n", u'.', 0.0, u"x/", u""},
    {"VER empty", u"[VANTO_INFO]\nVER=\n", u'.', 0.0, u"", u""},
    {"VER not a number", u"[VANTO_INFO]\nVER=2.0b\n", u'.', 0.0, u"", u""},
    {"VER dotted", u"[VANTO_INFO]\nVER=2.5.1\n", u'.', 0.0, u"", u""},
    {"VER in another format", u"[VANTO_INFO]\nVER=2.5\n", u',', 0.0, u"", u""},
    {"VER in the user's format", u"[VANTO_INFO]\nVER=2,5\n", u',', 2.5, u"", u""},
    {"VER quoted and blank", u"[VANTO_INFO]\nVER = \" 3.25 \"\n", u'.', 3.25, u"", u""},
    {"VER overflowing", u"[VANTO_INFO]\nVER=1e400\n", u'.', 0.0, u"", u""},
    {"VER negative", u"[VANTO_INFO]\nVER=-1\n", u'.', -1.0, u"", u""},
    {"sections in lower case", u"[vanto_info_pc]\nexedir=a b.exe\n", u'.', 0.0, u"", u"a b.exe"},
    {"not INI at all", u"<html><body>Not here</body></html>", u'.', 0.0, u"", u""},
    {"empty", u"", u'.', 0.0, u"", u""},
};

TEST(ReadServerInfoTest, Table) {
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    services.iniFiles[u"info.ini"] = c.file;
    UpdateRunState state;
    state.DecimalSeparator = c.separator;
    state.Info = InfoReader{u"info.ini"};
    state.ServerVersion = 99;  // every entry is read afresh
    state.ExeDir = u"stale";
    ReadServerInfo(state, services);
    EXPECT_EQ(state.ServerVersion, c.serverVersion);
    EXPECT_EQ(state.InfoServerDir, c.serverDir);
    EXPECT_EQ(state.ExeDir, c.exeDir);
  }
}

TEST(ReadServerInfoTest, ReadsTheSevenEntriesInOrder) {
  FakeServices services;
  services.iniFiles[u"info.ini"] = kReadCases[0].file;
  UpdateRunState state;
  state.Info = InfoReader{u"info.ini"};
  ReadServerInfo(state, services);
  const std::vector<std::string> expected = {
      "ReadProfileString VANTO_INFO VER",           "ReadProfileString VANTO_INFO InfoFName",
      "ReadProfileString VANTO_INFO ServerDir",     "ReadProfileString VANTOK_INFO Infotxt",
      "ReadProfileString VANTO_INFO_PC LocalAlias", "ReadProfileString VANTO_INFO_PC ExeDir",
      "ReadProfileString VANTO_INFO_PC ExeDirUp",
  };
  EXPECT_EQ(services.calls, expected);
  EXPECT_EQ(state.InfoFileName, u"n.ini");
  EXPECT_EQ(state.InfoText, u"t");
  EXPECT_EQ(state.LocalAlias, u"a");
  EXPECT_EQ(state.ExeDirUp, u"u");
}

// Errors other than a conversion error pass through.
class ThrowingProfile : public FakeServices {
 public:
  std::u16string ReadProfileString(const std::u16string&, const std::u16string&,
                                   const std::u16string& key, const std::u16string&) override {
    if (key == u"ServerDir") throw EOutOfMemory(u"Out of memory");
    return u"1";
  }
};

TEST(ReadServerInfoTest, OtherErrorsPassThrough) {
  ThrowingProfile services;
  UpdateRunState state;
  EXPECT_THROW(ReadServerInfo(state, services), EOutOfMemory);
  EXPECT_EQ(state.ServerVersion, 1.0);
}

// --- Fetching it -----------------------------------------------------------------------------

class LoadServerInfoTest : public ::testing::Test {
 protected:
  LoadServerInfoTest() {
    state_.TempDir = folder_.WithSeparator();
    state_.RegServerDir = Utf8ToUtf16(server_.BaseUrl() + "reg/");
    state_.RegInfoFName = u"newvanto.ini";
    fetch_.readTimeoutMs = 5000;
  }

  TestFolder folder_;
  ScriptedServer server_;
  FakeServices services_;
  UpdateRunState state_;
  net::FetchOptions fetch_;
};

TEST_F(LoadServerInfoTest, InstallerLocationComesFromTheFile) {
  const std::string file =
      "[VANTO_INFO]\r\nVER=2.0\r\nInfoFName=other.ini\r\nServerDir=http://elsewhere.example/new/"
      "\r\n"
      "[VANTO_INFO_PC]\r\nExeDir=setup.exe\r\n";
  server_.AddResponse(OkResponse(file));
  LoadServerInfo(state_, services_, fetch_);

  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(server_.Requests()[0]), "GET /reg/newvanto.ini HTTP/1.1");
  EXPECT_EQ(state_.DownloadUrl, state_.RegServerDir + u"newvanto.ini");
  EXPECT_EQ(state_.LocalFile, folder_.WithSeparator() + u"newvanto.ini");
  EXPECT_EQ(state_.Info.fileName, state_.LocalFile);
  EXPECT_EQ(folder_.Read(state_.LocalFile), file);
  EXPECT_EQ(state_.ServerVersion, 2.0);
  EXPECT_EQ(state_.InfoServerDir, u"http://elsewhere.example/new/");
  // The file's own name for itself is read but not used.
  EXPECT_EQ(state_.InfoFileName, u"other.ini");
  EXPECT_EQ(state_.ExeDir, u"setup.exe");
}

TEST_F(LoadServerInfoTest, EmptyFileGivesDefaults) {
  server_.AddResponse(OkResponse(""));
  state_.ServerVersion = 5;
  LoadServerInfo(state_, services_, fetch_);
  EXPECT_EQ(state_.ServerVersion, 0.0);
  EXPECT_TRUE(state_.InfoServerDir.empty());
  EXPECT_TRUE(state_.ExeDir.empty());
  EXPECT_EQ(services_.Count("ReadProfileString"), 7);
}

TEST_F(LoadServerInfoTest, VersionThatIsNotANumberReadsAsZero) {
  server_.AddResponse(OkResponse("[VANTO_INFO]\r\nVER=v2\r\n"));
  LoadServerInfo(state_, services_, fetch_);
  EXPECT_EQ(state_.ServerVersion, 0.0);
}

TEST_F(LoadServerInfoTest, ReplacesAnEarlierDownload) {
  {
    std::ofstream old(folder_.Path() / "newvanto.ini", std::ios::binary);
    old << "[VANTO_INFO]\r\nVER=9\r\n";
  }
  server_.AddResponse(OkResponse("[VANTO_INFO]\r\nVER=3\r\n"));
  LoadServerInfo(state_, services_, fetch_);
  EXPECT_EQ(state_.ServerVersion, 3.0);
}

TEST_F(LoadServerInfoTest, FailedFetchReadsNothing) {
  {
    std::ofstream old(folder_.Path() / "newvanto.ini", std::ios::binary);
    old << "[VANTO_INFO]\r\nVER=9\r\n";
  }
  server_.AddResponse("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!");
  EXPECT_THROW(LoadServerInfo(state_, services_, fetch_), EIdHTTPProtocolException);
  EXPECT_EQ(services_.Count("ReadProfileString"), 0);
  EXPECT_TRUE(state_.Info.fileName.empty());
  EXPECT_EQ(state_.ServerVersion, 0.0);
  // The earlier download is left as it was.
  EXPECT_EQ(folder_.Read(state_.LocalFile), "[VANTO_INFO]\r\nVER=9\r\n");
}

TEST_F(LoadServerInfoTest, MissingDownloadFolderFailsToCreateTheFile) {
  state_.TempDir = folder_.WithSeparator() + u"missing/";
  server_.AddResponse(OkResponse("[VANTO_INFO]\r\nVER=3\r\n"));
  EXPECT_THROW(LoadServerInfo(state_, services_, fetch_), EFCreateError);
  EXPECT_EQ(services_.Count("ReadProfileString"), 0);
}

}  // namespace
}  // namespace vanto::update
