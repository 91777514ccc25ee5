// FetchToFile against the scripted loopback server: what goes on the wire, what lands on disk.
#include "net/fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/errors.h"
#include "net/staging_path.h"
#include "platform/file.h"
#include "platform/utf.h"
#include "support/body_checks.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wine.h"

#ifdef _WIN32
#include <windows.h>
#else
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

struct Failure {
  std::string kind;
  std::string message;
  int number = 0;  // socket error number or status code
};

// Runs the fetch and describes its failure, if any.
std::optional<Failure> Fetch(const std::u16string& url, const std::u16string& path,
                             const FetchOptions& options = {}) {
  try {
    FetchToFile(url, path, options);
    return std::nullopt;
  } catch (const EIdSocketError& e) {
    return Failure{std::string(e.Kind()), U8(e.Message()), e.LastError()};
  } catch (const EIdHTTPProtocolException& e) {
    return Failure{std::string(e.Kind()), U8(e.Message()), e.ErrorCode()};
  } catch (const Error& e) {
    return Failure{std::string(e.Kind()), U8(e.Message()), 0};
  }
}

// Every name in a folder, sorted, so that whatever a save leaves behind shows.
std::vector<std::u16string> NamesIn(const std::filesystem::path& folder) {
  std::vector<std::u16string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().u16string());
  }
  std::sort(names.begin(), names.end());
  return names;
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

TEST_F(FetchTest, RequestLinePerUrl) {
  const std::string port = std::to_string(server_.Port());
  const struct {
    std::string url;
    std::string requestLine;
  } cases[] = {
      {"HTTP://127.0.0.1:" + port, "GET / HTTP/1.1"},
      {"http://LocalHost:" + port + "/a/./b/../c.txt", "GET /a/./b/../c.txt HTTP/1.1"},
      {"ftp://127.0.0.1:" + port + "/f.txt?x=1#y", "GET /f.txt?x=1#y HTTP/1.1"},
      {"http://user:pw@127.0.0.1:" + port + "/my file.txt", "GET /my%20file.txt HTTP/1.1"},
      {"http://127.0.0.1:" + port + "/\xEC\x97\x85\xEB\x8D\xB0\xEC\x9D\xB4\xED\x8A\xB8.exe",
       "GET /%EC%97%85%EB%8D%B0%EC%9D%B4%ED%8A%B8.exe HTTP/1.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    server_.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    const std::u16string path = dir_.File(u"out.txt");
    EXPECT_FALSE(Fetch(U16(c.url), path));
    EXPECT_EQ("ok", test::ReadFileBytes(path));
    const std::string request = server_.Requests().back();
    EXPECT_EQ(c.requestLine + "\r\n", request.substr(0, request.find('\n') + 1));
  }
}

TEST_F(FetchTest, Bodies) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 256);
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (size_t at = 0; at < big.size(); at += 100000) {
    const std::string piece = big.substr(at, 100000);
    char size[32];
    std::snprintf(size, sizeof(size), "%zx;ext=1\r\n", piece.size());
    chunked += size + piece + "\r\n";
  }
  chunked += "0\r\nX-Trailer: done\r\n\r\n";
  const struct {
    const char* name;
    ServerScript script;
    std::string body;
  } cases[] = {
      {"content-length",
       ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size()) +
                           "\r\n\r\n" + big),
       big},
      {"chunked", ServerScript().SendInPieces(chunked, 65536, 0), big},
      {"until close", ServerScript().Send("HTTP/1.0 200 OK\r\n\r\n" + big), big},
      {"content-length 0", ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), ""},
      {"204",
       ServerScript()
           .Send("HTTP/1.1 204 No Content\r\n\r\n")
           .EndWith(ServerScript::Ending::kHoldOpen),
       ""},
      {"100 then 200",
       ServerScript()
           .Send("HTTP/1.1 100 Continue\r\n\r\n")
           .Pause(50)
           .Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"),
       "ok"},
      {"slow pieces",
       ServerScript().SendInPieces("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nslow", 3, 30),
       "slow"},
      {"left open after the body",
       ServerScript()
           .Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nopen")
           .EndWith(ServerScript::Ending::kHoldOpen),
       "open"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.AddScript(c.script);
    const std::u16string path = dir_.File(u"body.bin");
    test::WriteFileBytes(path, "an older, longer file that must be replaced whole");
    FetchOptions options;
    options.readTimeoutMs = 5000;
    EXPECT_FALSE(Fetch(U16(server.BaseUrl() + "f.bin"), path, options));
    EXPECT_TRUE(test::ReadFileBytes(path) == c.body) << "size " << test::ReadFileBytes(path).size();
  }
}

// Every failure before the save leaves an existing file exactly as it was.
TEST_F(FetchTest, FailuresLeaveTheFileAlone) {
  const std::string tooLong = "HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'x') + "\r\n\r\n";
  const struct {
    const char* name;
    ServerScript script;
    Failure expected;
  } cases[] = {
      {"404",
       ServerScript().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"),
       {"EIdHTTPProtocolException", "HTTP/1.1 404 Not Found", 404}},
      {"401",
       ServerScript().Send("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"),
       {"EIdHTTPProtocolException", "HTTP/1.1 401 Unauthorized", 401}},
      {"500 until close",
       ServerScript().Send("HTTP/1.1 500 Internal Server Error\r\n\r\nboom"),
       {"EIdHTTPProtocolException", "HTTP/1.1 500 Internal Server Error", 500}},
      {"302 with a body",
       ServerScript().Send(
           "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 3\r\n\r\nabc"),
       {"EIdHTTPProtocolException", "HTTP/1.1 302 Found", 302}},
      {"lone 102",
       ServerScript().Send("HTTP/1.1 102 Processing\r\n\r\n"),
       {"EIdHTTPProtocolException", "HTTP/1.1 102 Processing", 102}},
      {"reason beyond ASCII",
       ServerScript().Send("HTTP/1.1 404 \xEC\x97\x86\xEC\x9D\x8C\r\n\r\n"),
       {"EIdHTTPProtocolException", "HTTP/1.1 404 ??????", 404}},
      {"cut short",
       ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf!"),
       {"EIdConnClosedGracefully", "Connection Closed Gracefully.", 0}},
      {"closed inside chunks",
       ServerScript().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc"),
       {"EIdConnClosedGracefully", "Connection Closed Gracefully.", 0}},
      {"closed at once",
       ServerScript(),
       {"EIdConnClosedGracefully", "Connection Closed Gracefully.", 0}},
      {"line too long",
       ServerScript().Send(tooLong),
       {"EIdReadLnMaxLineLengthExceeded", "Max line length exceeded.", 0}},
      {"reset",
       ServerScript()
           .IgnoreRequest()
           .Pause(100)
           .Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc")
           .Pause(100)
           .EndWith(ServerScript::Ending::kReset),
       {"EIdSocketError", "Socket Error # 10054\r\nConnection reset by peer.", 10054}},
      {"silent",
       ServerScript().EndWith(ServerScript::Ending::kHoldOpen),
       {"EIdReadTimeout", "Read timed out.", 0}},
      {"silent inside the body",
       ServerScript()
           .Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc")
           .EndWith(ServerScript::Ending::kHoldOpen),
       {"EIdReadTimeout", "Read timed out.", 0}},
      {"lengths disagree",
       ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"),
       {"EIdHTTPProtocolException", "HTTP/1.1 200 OK", 200}},
      {"too large for the limit",
       ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"),
       {"EOutOfMemory", "Out of memory", 0}},
      {"chunks too large for the limit",
       ServerScript().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                           std::string("80\r\n") + std::string(128, 'a') + "\r\n" + "80\r\n" +
                           std::string(128, 'a') + "\r\n0\r\n\r\n"),
       {"EOutOfMemory", "Out of memory", 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Wine's recv reports a reset as an orderly close (Windows reports 10054).
    if (c.expected.number == 10054 && test::RunningUnderWine()) continue;
    ScriptedServer server;
    server.AddScript(c.script);
    const std::u16string path = dir_.File(u"keep.txt");
    test::WriteFileBytes(path, "old content");
    FetchOptions options;
    options.readTimeoutMs = 300;
    options.maxBodyBytes = 200;
    const auto failure = Fetch(U16(server.BaseUrl() + "f.txt"), path, options);
    ASSERT_TRUE(failure);
    EXPECT_EQ(c.expected.kind, failure->kind);
    EXPECT_EQ(c.expected.message, failure->message);
    EXPECT_EQ(c.expected.number, failure->number);
    EXPECT_EQ("old content", test::ReadFileBytes(path));
  }
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

TEST_F(FetchTest, NoConnectionForRefusedUrls) {
  const std::string port = std::to_string(server_.Port());
  const struct {
    std::string url;
    const char* kind;
  } cases[] = {
      {"https://127.0.0.1:" + port + "/f", "EIdIOHandlerPropInvalid"},
      {"ftp://127.0.0.1/f", "EIdUnknownProtocol"},
      {"127.0.0.1:" + port + "/f", "EIdUnknownProtocol"},
      {"http://:" + port + "/f", "EIdHostRequired"},
      {"http://127.0.0.1:0/f", "EIdPortRequired"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const auto failure = Fetch(U16(c.url), dir_.File(u"f"));
    ASSERT_TRUE(failure);
    EXPECT_EQ(c.kind, failure->kind);
  }
  EXPECT_EQ(0, server_.Connections());
  EXPECT_FALSE(test::FileExists(dir_.File(u"f")));
}

TEST(FetchSocketErrors, UnresolvableHostAndRefusedPort) {
  std::uint16_t closedPort;
  {
    ScriptedServer gone;
    closedPort = gone.Port();
  }
  const struct {
    std::string url;
    const char* message;
    int number;
  } cases[] = {
      {"http://no-such-host.invalid/f", "Socket Error # 11001\r\nHost not found.", 11001},
      {"http://127.0.0.1:" + std::to_string(closedPort) + "/f",
       "Socket Error # 10061\r\nConnection refused.", 10061},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const auto failure = Fetch(U16(c.url), dir.File(u"f"));
    ASSERT_TRUE(failure);
    EXPECT_EQ("EIdSocketError", failure->kind);
    EXPECT_EQ(c.message, failure->message);
    EXPECT_EQ(c.number, failure->number);
  }
}

// A bracketed literal is connected to over IPv6, never looked up as a name.
TEST(FetchSocketErrors, BracketedIpv6LiteralIsConnectedTo) {
  std::uint16_t closedPort;
  {
    ScriptedServer gone;
    closedPort = gone.Port();
  }
  test::TempDir dir;
  const auto failure =
      Fetch(U16("http://[::1]:" + std::to_string(closedPort) + "/f"), dir.File(u"f"));
  ASSERT_TRUE(failure);
  EXPECT_EQ("EIdSocketError", failure->kind);
  // Refused, or IPv6 not available on this machine: anything but a failed name lookup.
  EXPECT_NE(11001, failure->number) << failure->message;
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

// The file is made once the head is judged a success and before the body is read: a failed
// status never meets a folder that cannot be written, and a download that cannot be saved fails
// at once instead of after a body that is never complete.
TEST_F(FetchTest, TheFileIsMadeAfterTheHeadAndBeforeTheBody) {
  const struct {
    const char* name;
    ServerScript script;
    std::string expectedKind;
  } cases[] = {
      {"404", ServerScript().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"),
       "EIdHTTPProtocolException"},
      {"bad framing",
       ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n"),
       "EIdHTTPProtocolException"},
      {"too large", ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"),
       "EOutOfMemory"},
      {"body that never ends",
       ServerScript()
           .Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc")
           .EndWith(ServerScript::Ending::kHoldOpen),
       "EFCreateError"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.AddScript(c.script);
    FetchOptions options;
    options.readTimeoutMs = 5000;
    options.maxBodyBytes = 200;
    const auto started = std::chrono::steady_clock::now();
    const auto failure =
        Fetch(U16(server.BaseUrl() + "f"), dir_.File(u"no-such-folder/f.txt"), options);
    ASSERT_TRUE(failure);
    EXPECT_EQ(c.expectedKind, failure->kind) << failure->message;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(4000));
  }
  EXPECT_TRUE(NamesIn(dir_.Path()).empty());
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
  options.bodyChecks.push_back(test::WholeBodyCheck([&](const std::string& body) {
    seen = body.size();
    throw EConvertError(u"refused");
  }));
  const auto failure = Fetch(Url("f"), path, options);
  ASSERT_TRUE(failure);
  EXPECT_EQ("EConvertError", failure->kind);
  EXPECT_EQ(6u, seen);
  EXPECT_EQ("old", test::ReadFileBytes(path));
}

// Where the body is written until it is whole: beside the target, within the name limit.
TEST(StagingPath, StaysBesideTheTargetAndWithinTheNameLimit) {
  const std::u16string n250(250, u'n');
  const std::u16string n249(249, u'n');
  const struct {
    std::u16string target;
    std::u16string staging;
  } cases[] = {
      {u"C:\\d\\setup.exe", u"C:\\d\\setup.exe.part"},
      {u"/d/setup.exe", u"/d/setup.exe.part"},
      {u"setup.exe", u"setup.exe.part"},
      {u"/d/" + n250, u"/d/" + n250 + u".part"},
      {u"/d/" + n250 + u"x", u"/d/" + n250 + u".part"},
      {u"/d/" + n250 + u"xxxxx", u"/d/" + n250 + u".part"},
      // Its own staging file otherwise.
      {u"/d/" + n250 + u".part", u"/d/" + n249 + u".part"},
      // Never half of a letter outside the basic plane (U+1F600 is two units).
      {u"/d/" + n249 + u"\U0001F600x", u"/d/" + n249 + u".part"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(U8(c.staging), U8(StagingPath(c.target))) << U8(c.target);
  }
}

// The platform's own words for a create that another program's open file refuses.
std::string SharingViolationText() {
#ifdef _WIN32
  wchar_t text[512] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 ERROR_SHARING_VIOLATION, 0, text, 512, nullptr);
  std::string reason = U8(reinterpret_cast<const char16_t*>(text));
  while (!reason.empty() &&
         (static_cast<unsigned char>(reason.back()) <= ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  return reason;
#else
  return "";
#endif
}

// The older file takes the new one's place only when the new one is whole; whatever stands in
// the way, the error names the file the user knows, and the folder holds nothing more after.
TEST_F(FetchTest, ReplacingTheOlderFile) {
  enum class AtStaging { kNothing, kStaleFile, kFolder, kLinkToNull, kLinkElsewhere };
  const struct {
    const char* name;
    AtStaging atStaging;
    bool holdTargetOpen;  // another process holds the older file without sharing
    bool expectSaved;
    size_t targetNameLength;  // 0: "setup.exe"
    bool nearMaxPath;         // the target's path 259 characters long, the staging file's more
    std::string reason;       // the platform's reason when not saved, if known
  } cases[] = {
      {"plain", AtStaging::kNothing, false, true, 0, false, ""},
      {"stale staging file is replaced", AtStaging::kStaleFile, false, true, 0, false, ""},
      {"staging name taken by a folder", AtStaging::kFolder, false, false, 0, false, ""},
      // A link at the staging name is removed, never written through: the writes would vanish
      // (or land elsewhere) and the empty file would then take the older one's place.
      {"staging name links to a device", AtStaging::kLinkToNull, false, true, 0, false, ""},
      {"staging name links to another file", AtStaging::kLinkElsewhere, false, true, 0, false, ""},
      // Only Windows refuses to replace a file that is open without sharing; it says why.
      {"older file held open", AtStaging::kNothing, true, !kOnWindows, 0, false,
       SharingViolationText()},
      {"staging file past MAX_PATH", AtStaging::kStaleFile, false, true, 0, true, ""},
      // The staging name stays within the name limit, however long the target's.
      {"name of 251 characters", AtStaging::kNothing, false, true, 251, false, ""},
      {"name of 255 characters", AtStaging::kStaleFile, false, true, 255, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef _WIN32
    // Links need rights that a Windows test run does not have.
    if (c.atStaging == AtStaging::kLinkToNull || c.atStaging == AtStaging::kLinkElsewhere) {
      continue;
    }
#endif
    test::TempDir dir;
    ScriptedServer server;
    server.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew");
    std::u16string name = u"setup.exe";
    if (c.targetNameLength > 0) name = std::u16string(c.targetNameLength - 4, u'n') + u".exe";
    std::u16string path = dir.File(name);
    if (c.nearMaxPath) path = dir.File(std::u16string(259 - dir.File(u"").size(), u'n'));
    const std::u16string staging = StagingPath(path);
    std::optional<platform::FileCreation> holder;
    if (c.holdTargetOpen) {
      holder.emplace(platform::CreateOutputFile(path));
      ASSERT_TRUE(holder->file.Write("old", 3));
    } else {
      test::WriteFileBytes(path, "old");
    }
    test::TempDir elsewhere;
    const std::u16string other = elsewhere.File(u"other.txt");
    test::WriteFileBytes(other, "other");
    switch (c.atStaging) {
      case AtStaging::kNothing:
        break;
      case AtStaging::kStaleFile:
        test::WriteFileBytes(staging, "half of an older download");
        break;
      case AtStaging::kFolder:
        std::filesystem::create_directory(std::filesystem::path(staging));
        break;
      case AtStaging::kLinkToNull:
        std::filesystem::create_symlink("/dev/null", std::filesystem::path(staging));
        break;
      case AtStaging::kLinkElsewhere:
        std::filesystem::create_symlink(std::filesystem::path(other),
                                        std::filesystem::path(staging));
        break;
    }
    const auto failure = Fetch(U16(server.BaseUrl() + "setup.exe"), path);
    holder.reset();
    std::vector<std::u16string> expectedNames{std::filesystem::path(path).filename().u16string()};
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
      if (!c.reason.empty()) {
        EXPECT_EQ(prefix + c.reason, failure->message);
      }
      EXPECT_EQ("old", test::ReadFileBytes(path));
      if (c.atStaging == AtStaging::kFolder) {
        expectedNames.push_back(std::filesystem::path(staging).filename().u16string());
      }
    }
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(expectedNames, NamesIn(dir.Path()));
    EXPECT_EQ("other", test::ReadFileBytes(other));
  }
}

// A replace that another program refuses for a moment (a scanner opening the fresh file, an
// installer closing) is tried again for about two seconds; past that the platform's reason shows.
TEST_F(FetchTest, ReplaceRefusedForAMoment) {
  if (!kOnWindows) GTEST_SKIP() << "only Windows refuses to replace a file that is open";
  const struct {
    const char* name;
    int holdMs;  // from the moment the staging file appears
    bool expectSaved;
  } cases[] = {
      {"released within the retries", 900, true},
      {"held past them", 4000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::u16string path = dir.File(u"setup.exe");
    test::WriteFileBytes(path, "old");
    ScriptedServer server;
    server.AddScript(
        ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nne").Pause(300).Send("w"));
    std::thread holder([&] {
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!test::FileExists(StagingPath(path)) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      platform::FileCreation held = platform::CreateOutputFile(path);
      std::this_thread::sleep_for(std::chrono::milliseconds(c.holdMs));
    });
    const auto started = std::chrono::steady_clock::now();
    const auto failure = Fetch(U16(server.BaseUrl() + "setup.exe"), path);
    const auto took = std::chrono::steady_clock::now() - started;
    holder.join();
    if (c.expectSaved) {
      EXPECT_FALSE(failure) << failure->message;
      EXPECT_EQ("new", test::ReadFileBytes(path));
    } else {
      ASSERT_TRUE(failure);
      EXPECT_EQ("Cannot create file \"" + U8(platform::FullPathName(path)) + "\". " +
                    SharingViolationText(),
                failure->message);
      EXPECT_GE(took, std::chrono::milliseconds(1800));
    }
    EXPECT_EQ(std::vector<std::u16string>{u"setup.exe"}, NamesIn(dir.Path()));
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
    EXPECT_FALSE(test::FileExists(StagingPath(path)));
  }
}
#endif

}  // namespace
}  // namespace vanto::net
