// FetchToFile against the scripted loopback server: what goes on the wire, what lands on disk.
#include "net/fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net/errors.h"
#include "net/http_cases.h"
#include "net/url_cases.h"
#include "platform/file.h"
#include "platform/utf.h"
#include "support/http_outcome.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wine.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vanto::net {
namespace {

using test::ScriptedServer;
using test::ServerScript;

std::u16string U16(const std::string& text) {
  return platform::Utf8ToUtf16(text);
}
std::string U8(const std::u16string& text) {
  return platform::Utf16ToUtf8(text);
}

#ifdef _WIN32
constexpr bool kOnWindows = true;
#else
constexpr bool kOnWindows = false;
#endif

// The failure of a fetch, if any: its kind, text and number.
struct Failure {
  std::string kind;
  std::string message;
  int number = 0;  // socket error number or status code
};

std::optional<Failure> Fetch(const std::u16string& url, const std::u16string& path,
                             const FetchOptions& options = {}) {
  const test::HttpOutcome got = test::FetchToOutcome(url, path, options);
  if (got.kind.empty()) return std::nullopt;
  return Failure{got.kind, got.message, got.number};
}

class FetchTest : public ::testing::Test {
 protected:
  std::u16string Url(const std::string& rest) const { return U16(server_.BaseUrl() + rest); }
  std::string HostLine() const {
    return "Host: 127.0.0.1:" + std::to_string(server_.Port()) + "\r\n";
  }

  ScriptedServer server_;
  test::TempDir dir_;
};

TEST_F(FetchTest, SendsExactlyTheRequestAndSavesTheBody) {
  server_.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nSet-Cookie: a=b\r\n\r\nhello");
  const std::u16string path = dir_.File(u"info.ini");
  EXPECT_FALSE(Fetch(Url("vanto\\info.ini#top"), path));
  EXPECT_EQ("hello", test::ReadFileBytes(path));
  ASSERT_EQ(1u, server_.Requests().size());
  EXPECT_EQ("GET /vanto/info.ini HTTP/1.1\r\n" + HostLine() +
                "Accept: text/html, */*\r\n"
                "Accept-Encoding: identity\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                "\r\n",
            server_.Requests()[0]);
}

// The rows of the URL cases that name a server, fetched from it: the request line it receives.
TEST_F(FetchTest, RequestLinePerUrl) {
  for (const test::UrlCase& c : test::UrlCases()) {
    if (!test::NamesAServer(c.url)) continue;
    const std::u16string url = test::WithServer(c.url, u"127.0.0.1", server_.Port());
    SCOPED_TRACE(U8(url));
    server_.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    const std::u16string path = dir_.File(u"out.txt");
    EXPECT_FALSE(Fetch(url, path));
    EXPECT_EQ("ok", test::ReadFileBytes(path));
    const std::string request = server_.Requests().back();
    EXPECT_EQ(std::string(c.requestLine) + "\r\n", request.substr(0, request.find('\n') + 1));
  }
}

// Every row of the HTTP cases over a socket: the error or the saved bytes, and nothing in the
// folder but the target: the older file kept whole on a failure, or no file at all.
void FetchEveryRow(bool resets) {
  for (const test::HttpCase& row : test::HttpCases()) {
    if ((row.ending == ServerScript::Ending::kReset) != resets) continue;
    SCOPED_TRACE(row.name);
    test::ExpectFetchOutcome(row, test::WholeScript(row), true);
    if (!row.expected.kind.empty()) test::ExpectFetchOutcome(row, test::WholeScript(row), false);
  }
}

TEST(FetchCases, EveryRowOverASocket) {
  FetchEveryRow(false);
}

TEST(FetchCases, ResetRowsOverASocket) {
  if (test::ReportsResetsAsCloses()) GTEST_SKIP() << test::kResetsAsClosesReason;
  FetchEveryRow(true);
}

TEST_F(FetchTest, RedirectWithoutBodyIsSkippedAfterAWait) {
  server_.AddScript(ServerScript()
                        .Send("HTTP/1.1 301 Moved Permanently\r\nLocation: http://x/\r\n\r\n")
                        .EndWith(ServerScript::Ending::kHoldOpen));
  const auto start = std::chrono::steady_clock::now();
  FetchOptions options;
  options.readTimeoutMs = 60000;
  const auto failure = Fetch(Url("f"), dir_.File(u"f"), options);
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(failure);
  EXPECT_EQ("HTTP/1.1 301 Moved Permanently", failure->message);
  EXPECT_GE(waited, std::chrono::milliseconds(4900));
  EXPECT_LT(waited, std::chrono::milliseconds(15000));
  EXPECT_EQ(1u, server_.Requests().size());
  EXPECT_FALSE(test::FileExists(dir_.File(u"f")));
}

// Every refused URL fails before a connection, and so before anything is saved.
TEST_F(FetchTest, NoConnectionForRefusedUrls) {
  for (const test::RefusedUrlCase& c : test::RefusedUrlCases()) {
    const std::u16string url = test::WithServer(c.url, u"127.0.0.1", server_.Port());
    SCOPED_TRACE(U8(url));
    const test::HttpOutcome got = test::FetchToOutcome(url, dir_.File(u"f"));
    EXPECT_EQ((test::HttpOutcome{c.kind, U8(c.message), 0, "", 0}), got);
  }
  EXPECT_EQ(0, server_.Connections());
  EXPECT_EQ(std::vector<std::string>{}, test::NamesIn(dir_.Path()));
}

// Neither a name that does not resolve nor a refused connection creates a file.
TEST(FetchSocketErrors, UnresolvableHostAndRefusedPort) {
  const struct {
    std::string url;
    const char* message;
    int number;
  } cases[] = {
      {"http://no-such-host.invalid/f", "Socket Error # 11001\r\nHost not found.", 11001},
      {"http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/f",
       "Socket Error # 10061\r\nConnection refused.", 10061},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    test::TempDir dir;
    const test::HttpOutcome got = test::FetchToOutcome(c.url, dir.File(u"f"));
    EXPECT_EQ((test::HttpOutcome{"EIdSocketError", c.message, c.number, "", 0}), got);
    EXPECT_EQ(std::vector<std::string>{}, test::NamesIn(dir.Path()));
  }
}

// A bracketed literal goes to the IPv6 connect as it is: the connect is refused, or fails for want
// of IPv6 on this machine, but no name is looked up.
TEST(FetchSocketErrors, BracketedIpv6LiteralIsNeverLookedUp) {
  test::TempDir dir;
  const auto failure =
      Fetch(U16("http://[::1]:" + std::to_string(test::ClosedPort()) + "/f"), dir.File(u"f"));
  ASSERT_TRUE(failure);
  EXPECT_EQ("EIdSocketError", failure->kind);
  const std::set<int> connectFailures = {10061, 10047, 10049, 10051, 10065};
  EXPECT_EQ(1u, connectFailures.count(failure->number)) << failure->message;
}

TEST_F(FetchTest, FolderAsPathFailsAtCreation) {
  server_.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  const std::u16string folder = dir_.File(u"folder");
  std::filesystem::create_directory(std::filesystem::path(folder));
  const auto failure = Fetch(Url("f"), folder);
  ASSERT_TRUE(failure);
  EXPECT_EQ("EFCreateError", failure->kind);
  const std::string prefix = "Cannot create file \"" + U8(platform::FullPathName(folder)) + "\". ";
  ASSERT_EQ(prefix, failure->message.substr(0, prefix.size()));
  const std::string text = failure->message.substr(prefix.size());
  EXPECT_FALSE(text.empty());
  EXPECT_NE('.', text.back());
  EXPECT_NE(' ', text.back());
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(folder)));
}

TEST_F(FetchTest, RelativePathInTheCreationMessageIsMadeAbsolute) {
  server_.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  const auto failure = Fetch(Url("f"), u"no-such-folder/./sub/../f.txt");
  ASSERT_TRUE(failure);
  EXPECT_EQ("EFCreateError", failure->kind);
  const std::string full =
      U8((std::filesystem::current_path() / "no-such-folder" / "f.txt").u16string());
  EXPECT_EQ(0u, failure->message.find("Cannot create file \"" + full + "\". ")) << failure->message;
}

TEST_F(FetchTest, KoreanFileName) {
  server_.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  const std::u16string path = dir_.File(u"\uC5C5\uB370\uC774\uD2B8 \uD30C\uC77C.exe");
  EXPECT_FALSE(Fetch(Url("f"), path));
  EXPECT_EQ("ok", test::ReadFileBytes(path));
}

TEST_F(FetchTest, RefusedBodyIsNotSaved) {
  server_.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nbroken");
  const std::u16string path = dir_.File(u"checked.txt");
  test::WriteFileBytes(path, "old");
  FetchOptions options;
  std::uint64_t seen = 0;
  options.checkBody = [&](const BodyBuffer& body) {
    seen = body.Size();
    throw EConvertError(u"refused");
  };
  const auto failure = Fetch(Url("f"), path, options);
  ASSERT_TRUE(failure);
  EXPECT_EQ("EConvertError", failure->kind);
  EXPECT_EQ(6u, seen);
  EXPECT_EQ("old", test::ReadFileBytes(path));
}

// Where the body is written until it is whole; nothing of that name outlives a save.
std::u16string Staging(const std::u16string& path) {
  return path + u".part";
}

// The older file takes the new one's place only when the new one is whole; whatever stands in
// the way, the error names the file the user knows.
TEST_F(FetchTest, ReplacingTheOlderFile) {
  const struct {
    const char* name;
    bool staleStagingFile;      // a run ended while saving left its file behind
    bool stagingNameIsAFolder;  // so nothing can be staged
    bool holdTargetOpen;        // another process holds the older file without sharing
    bool expectSaved;
    bool nearMaxPath = false;  // the target's path 259 characters long, the staging file's more
  } cases[] = {
      {"plain", false, false, false, true},
      {"stale staging file is overwritten", true, false, false, true},
      {"staging name taken by a folder", false, true, false, false},
      // Only Windows refuses to replace a file that is open without sharing.
      {"older file held open", false, false, true, !kOnWindows},
      {"staging file past MAX_PATH", true, false, false, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew");
    std::u16string path = dir_.File(u"setup.exe");
    if (c.nearMaxPath) path = dir_.File(std::u16string(259 - dir_.File(u"").size(), u'n'));
    std::filesystem::remove_all(std::filesystem::path(Staging(path)));
    std::optional<platform::FileCreation> holder;
    if (c.holdTargetOpen) {
      holder.emplace(platform::CreateOutputFile(path));
      ASSERT_TRUE(holder->file.Write("old", 3));
    } else {
      test::WriteFileBytes(path, "old");
    }
    if (c.staleStagingFile) test::WriteFileBytes(Staging(path), "half of an older download");
    if (c.stagingNameIsAFolder) {
      std::filesystem::create_directory(std::filesystem::path(Staging(path)));
    }
    const auto failure = Fetch(U16(server.BaseUrl() + "setup.exe"), path);
    holder.reset();
    if (c.expectSaved) {
      EXPECT_FALSE(failure) << failure->message;
      EXPECT_EQ("new", test::ReadFileBytes(path));
    } else {
      ASSERT_TRUE(failure);
      EXPECT_EQ("EFCreateError", failure->kind);
      const std::string prefix =
          "Cannot create file \"" + U8(platform::FullPathName(path)) + "\". ";
      EXPECT_EQ(prefix, failure->message.substr(0, prefix.size()));
      EXPECT_GT(failure->message.size(), prefix.size());
      EXPECT_EQ("old", test::ReadFileBytes(path));
    }
    EXPECT_EQ(c.stagingNameIsAFolder,
              std::filesystem::is_directory(std::filesystem::path(Staging(path))));
    if (!c.stagingNameIsAFolder) {
      EXPECT_FALSE(test::FileExists(Staging(path)));
    }
  }
}

#ifndef _WIN32
// A write that fails part-way (a full disk) keeps the older file whole and leaves no half file.
// The file size limit makes the write fail; it is set in a child process so that nothing else of
// the test run is limited.
TEST_F(FetchTest, FailedWriteKeepsTheOlderFile) {
  const struct {
    const char* name;
    std::optional<std::string> older;
  } cases[] = {
      {"no older file", std::nullopt},
      {"older file", std::string("old")},
      {"older file larger than the limit", std::string(4000, 'o')},
  };
  const std::string body(64 * 1024, 'w');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\n\r\n" + body);
    const std::u16string path = dir_.File(u"partial.bin");
    std::filesystem::remove(std::filesystem::path(path));
    if (c.older) test::WriteFileBytes(path, *c.older);
    const std::u16string url = U16(server.BaseUrl() + "f");
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{1000, 1000};
      setrlimit(RLIMIT_FSIZE, &limit);
      const auto failure = Fetch(url, path);
      const bool expected =
          failure && failure->kind == "EWriteError" && failure->message == "Stream write error";
      _exit(expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(c.older.has_value(), test::FileExists(path));
    if (c.older) {
      EXPECT_EQ(*c.older, test::ReadFileBytes(path));
    }
    EXPECT_FALSE(test::FileExists(Staging(path)));
  }
}
#endif

}  // namespace
}  // namespace vanto::net
