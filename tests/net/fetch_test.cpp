// FetchToFile against the scripted loopback server: what goes on the wire, what lands on disk.
#include "net/fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/errors.h"
#include "net/http_cases.h"
#include "net/staging_path.h"
#include "net/url_cases.h"
#include "platform/file.h"
#include "platform/utf.h"
#include "support/body_checks.h"
#include "support/http_outcome.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wine.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
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

// The platform's own words for a refusal, where the platform has that case: a reason that is
// not known on this platform is only checked to be there.
struct Reason {
  const char* windows = nullptr;
  const char* wine = nullptr;
  const char* posix = nullptr;

  const char* Here() const {
    if (!kOnWindows) return posix;
    return test::RunningUnderWine() ? wine : windows;
  }
};
constexpr Reason kSharingViolation{
    "The process cannot access the file because it is being used by another process",
    "Sharing violation", nullptr};
constexpr Reason kAccessDenied{"Access is denied", "Access denied", "Permission denied"};

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
// Returns whether every outcome was the row's own (see ExpectFetchOutcome).
bool FetchEveryRow(bool resets) {
  bool own = true;
  for (const test::HttpCase& row : test::HttpCases()) {
    if ((row.ending == ServerScript::Ending::kReset) != resets) continue;
    SCOPED_TRACE(row.name);
    own &= test::ExpectFetchOutcome(row, test::WholeScript(row), true);
    if (!row.expected.kind.empty()) {
      own &= test::ExpectFetchOutcome(row, test::WholeScript(row), false);
    }
  }
  return own;
}

TEST(FetchCases, EveryRowOverASocket) {
  FetchEveryRow(false);
}

// Where a reset read as a close, the rows still failed and saved nothing; only the reset's own
// error went unchecked, and the test counts as skipped.
TEST(FetchCases, ResetRowsOverASocket) {
  if (!FetchEveryRow(true)) GTEST_SKIP() << test::kResetsAsClosesReason;
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

// The file is made once the head is judged a success and before the body is read: a failed
// status never meets a folder that cannot be written, and a download that cannot be saved fails
// at once instead of after a body that is never complete.
TEST_F(FetchTest, TheFileIsMadeAfterTheHeadAndBeforeTheBody) {
  const std::u16string device = kOnWindows ? dir_.File(u"NUL") : u"/dev/null";
  const struct {
    const char* name;
    ServerScript script;
    std::string expectedKind;
    std::u16string target = {};  // empty: a file in a folder that does not exist
    bool checked = false;        // a body check judges the whole body once it is complete
    Reason reason = {};
  } cases[] = {
      {"404", ServerScript().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"),
       "EIdHTTPProtocolException"},
      {"bad framing",
       ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n"),
       "EIdInvalidContentLength"},
      {"too large", ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"),
       "EOutOfMemory"},
      {"body that never ends",
       ServerScript()
           .Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc")
           .EndWith(ServerScript::Ending::kHoldOpen),
       "EFCreateError"},
      // A device would have had the body before the check could refuse it.
      {"device with a body check",
       ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew"), "EFCreateError",
       device, true, kAccessDenied},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.AddScript(c.script);
    FetchOptions options;
    options.readTimeoutMs = 5000;
    options.maxBodyBytes = 200;
    size_t checked = 0;
    if (c.checked) {
      options.bodyChecks.push_back(
          test::WholeBodyCheck([&](const std::string& body) { checked += body.size(); }));
    }
    const std::u16string target = c.target.empty() ? dir_.File(u"no-such-folder/f.txt") : c.target;
    const auto started = std::chrono::steady_clock::now();
    const auto failure = Fetch(U16(server.BaseUrl() + "f"), target, options);
    ASSERT_TRUE(failure);
    EXPECT_EQ(c.expectedKind, failure->kind) << failure->message;
    if (c.reason.Here() != nullptr) {
      EXPECT_EQ(
          "Cannot create file \"" + U8(platform::FullPathName(target)) + "\". " + c.reason.Here(),
          failure->message);
    }
    EXPECT_EQ(0u, checked);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(4000));
  }
  EXPECT_EQ(std::vector<std::string>{}, test::NamesIn(dir_.Path()));
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
  EXPECT_EQ(std::vector<std::string>{"checked.txt"}, test::NamesIn(dir_.Path()));
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

bool IsWritable(const std::u16string& path) {
  const auto perms = std::filesystem::status(std::filesystem::path(path)).permissions();
  return (perms & std::filesystem::perms::owner_write) != std::filesystem::perms::none;
}

// The older file takes the new one's place only when the new one is whole; whatever stands in
// the way, the error names the file the user knows, and the folder holds nothing more after.
// Windows removes what stands at the staging name before it makes its own file there; elsewhere
// the staging file has no name of its own until it replaces the target, and whatever stands at
// the staging name is left as it was.
enum class AtStaging {
  kNothing,
  kStaleFile,
  kReadOnlyFile,
  kFolder,
  kLinkToNull,
  kLinkElsewhere,
  kHardLinkToReadOnly
};

bool IsLink(AtStaging at) {
  return at == AtStaging::kLinkToNull || at == AtStaging::kLinkElsewhere;
}

// Saves over an older file with `links` chosen: the rows whose staging name is a link, or the rest.
void ReplaceTheOlderFile(bool links) {
  const struct {
    const char* name;
    AtStaging atStaging;
    bool holdTargetOpen;  // another process holds the older file without sharing
    bool expectSaved;
    size_t targetNameLength;  // 0: "setup.exe"
    bool nearMaxPath;         // the target's path 259 characters long, the staging file's more
    Reason reason;            // the platform's reason when not saved
  } cases[] = {
      {"plain", AtStaging::kNothing, false, true, 0, false, {}},
      {"stale staging file is replaced", AtStaging::kStaleFile, false, true, 0, false, {}},
      // Windows refuses to delete a read-only file; the leftover is removed all the same.
      {"read-only stale staging file is replaced",
       AtStaging::kReadOnlyFile,
       false,
       true,
       0,
       false,
       {}},
      {"staging name taken by a folder", AtStaging::kFolder, false, !kOnWindows, 0, false, {}},
      // A link at the staging name is removed, never written through: the writes would vanish
      // (or land elsewhere) and the empty file would then take the older one's place.
      {"staging name links to a device", AtStaging::kLinkToNull, false, true, 0, false, {}},
      {"staging name links to another file", AtStaging::kLinkElsewhere, false, true, 0, false, {}},
      // A read-only file's attributes belong to all of its names: clearing them to remove the
      // leftover would make the file elsewhere writable. Windows refuses the save instead.
      {"staging name a hard link to a read-only file", AtStaging::kHardLinkToReadOnly, false,
       !kOnWindows, 0, false, kAccessDenied},
      // Only Windows refuses to replace a file that is open without sharing; it says why.
      {"older file held open", AtStaging::kNothing, true, !kOnWindows, 0, false, kSharingViolation},
      {"staging file past MAX_PATH", AtStaging::kStaleFile, false, true, 0, true, {}},
      // The staging name stays within the name limit, however long the target's.
      {"name of 251 characters", AtStaging::kNothing, false, true, 251, false, {}},
      {"name of 255 characters", AtStaging::kStaleFile, false, true, 255, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (IsLink(c.atStaging) != links) continue;
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
      case AtStaging::kReadOnlyFile:
        test::WriteFileBytes(staging, "half of an older download");
        std::filesystem::permissions(std::filesystem::path(staging),
                                     std::filesystem::perms::owner_read);
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
      case AtStaging::kHardLinkToReadOnly:
        std::filesystem::create_hard_link(std::filesystem::path(other),
                                          std::filesystem::path(staging));
        std::filesystem::permissions(std::filesystem::path(other),
                                     std::filesystem::perms::owner_read);
        break;
    }
    const bool somethingAtStaging = c.atStaging != AtStaging::kNothing;
    const auto ReadStaging = [&] {
      return c.atStaging == AtStaging::kFolder ? std::string() : test::ReadFileBytes(staging);
    };
    const std::string atStagingBefore = ReadStaging();
    const bool otherWritable = IsWritable(other);
    const auto failure = Fetch(U16(server.BaseUrl() + "setup.exe"), path);
    holder.reset();
    std::vector<std::string> expectedNames{U8(std::filesystem::path(path).filename().u16string())};
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
      if (c.reason.Here() != nullptr) {
        EXPECT_EQ(prefix + c.reason.Here(), failure->message);
      }
      EXPECT_EQ("old", test::ReadFileBytes(path));
    }
    const bool leftAlone = somethingAtStaging && (!kOnWindows || !c.expectSaved);
    if (leftAlone) {
      expectedNames.push_back(U8(std::filesystem::path(staging).filename().u16string()));
      EXPECT_EQ(atStagingBefore, ReadStaging());
    }
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(expectedNames, test::NamesIn(dir.Path()));
    EXPECT_EQ("other", test::ReadFileBytes(other));
    EXPECT_EQ(otherWritable, IsWritable(other));
    // So that the folders can be removed; never through a symbolic link to a device.
    for (const std::u16string& made : {staging, other}) {
      if (IsLink(c.atStaging)) break;
      std::error_code ignored;
      std::filesystem::permissions(std::filesystem::path(made), std::filesystem::perms::owner_all,
                                   ignored);
    }
  }
}
TEST_F(FetchTest, ReplacingTheOlderFile) {
  ReplaceTheOlderFile(false);
}

TEST_F(FetchTest, LinkAtTheStagingNameIsRemoved) {
  if (kOnWindows) GTEST_SKIP() << "making links needs rights that a Windows test run lacks";
  ReplaceTheOlderFile(true);
}

// What other programs do while a download is written. A replace that another program refuses
// for a moment (a scanner opening the fresh file, an installer closing) is tried again for about
// two seconds; past that the platform's reason shows. Nothing put at the staging name meanwhile
// becomes the target, and of two saves of one target each either fails or, when it reports
// success, leaves the target holding its own whole body.
enum class MidDownload { kHoldTarget, kFileAtStagingName, kSecondSave };

TEST_F(FetchTest, ReplaceRefusedForAMoment) {
  const struct {
    const char* name;
    MidDownload what;
    int holdMs;  // kHoldTarget: from the moment the body begins
    bool onlyWindows;
    bool expectSaved;
    Reason reason;
  } cases[] = {
      // Only Windows refuses to replace a file that is open.
      {"released within the retries", MidDownload::kHoldTarget, 900, true, true, {}},
      {"held past them", MidDownload::kHoldTarget, 4000, true, false, kSharingViolation},
      {"a file put at the staging name", MidDownload::kFileAtStagingName, 0, false, true, {}},
      {"a second save of the same target", MidDownload::kSecondSave, 0, false, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.onlyWindows && !kOnWindows) continue;
    test::TempDir dir;
    const std::u16string path = dir.File(u"setup.exe");
    test::WriteFileBytes(path, "old");
    ScriptedServer server;
    server.AddScript(
        ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nne").Pause(700).Send("w"));
    ScriptedServer secondServer;
    secondServer.AddScript(ServerScript()
                               .Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nse")
                               .Pause(1500)
                               .Send("cond"));
    std::optional<Failure> secondFailure;
    std::string targetAfterSecond;
    std::atomic<bool> begun{false};
    FetchOptions options;
    options.onBodyBegins = [&] { begun = true; };
    std::thread other([&] {
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!begun && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      // The first part of the body is written by now.
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      switch (c.what) {
        case MidDownload::kHoldTarget: {
          platform::FileCreation held = platform::CreateOutputFile(path);
          std::this_thread::sleep_for(std::chrono::milliseconds(c.holdMs));
          break;
        }
        case MidDownload::kFileAtStagingName: {
          const std::u16string intruder = dir.File(u"intruder");
          test::WriteFileBytes(intruder, "bad");
          std::error_code refused;  // Windows refuses to replace the open staging file
          std::filesystem::rename(std::filesystem::path(intruder),
                                  std::filesystem::path(StagingPath(path)), refused);
          break;
        }
        case MidDownload::kSecondSave:
          secondFailure = Fetch(U16(secondServer.BaseUrl() + "setup.exe"), path);
          targetAfterSecond = test::ReadFileBytes(path);
          break;
      }
    });
    const auto started = std::chrono::steady_clock::now();
    const auto failure = Fetch(U16(server.BaseUrl() + "setup.exe"), path, options);
    const auto took = std::chrono::steady_clock::now() - started;
    const std::string targetAfterFirst = test::ReadFileBytes(path);
    other.join();
    if (c.expectSaved) {
      EXPECT_FALSE(failure) << failure->message;
      EXPECT_EQ("new", targetAfterFirst);
    } else {
      ASSERT_TRUE(failure);
      EXPECT_EQ(
          "Cannot create file \"" + U8(platform::FullPathName(path)) + "\". " + c.reason.Here(),
          failure->message);
      EXPECT_GE(took, std::chrono::milliseconds(1800));
    }
    if (c.what == MidDownload::kSecondSave) {
      // Windows: the second run cannot remove the staging file of the first.
      if (kOnWindows) {
        ASSERT_TRUE(secondFailure);
        EXPECT_EQ("Cannot create file \"" + U8(platform::FullPathName(path)) + "\". " +
                      kSharingViolation.Here(),
                  secondFailure->message);
      } else {
        EXPECT_FALSE(secondFailure) << secondFailure->message;
        EXPECT_EQ("second", targetAfterSecond);
      }
    }
    std::vector<std::string> names = test::NamesIn(dir.Path());
    names.erase(std::remove(names.begin(), names.end(), "intruder"), names.end());
    names.erase(std::remove(names.begin(), names.end(), "setup.exe.part"), names.end());
    EXPECT_EQ(std::vector<std::string>{"setup.exe"}, names);
  }
}

#ifndef _WIN32
// Makes this process's file systems refuse unnamed files, as one without them (vfat, older NFS)
// does. False when the refusal did not take.
bool RefuseUnnamedFiles(const std::string& folder) {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, __O_TMPFILE, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    return false;
  }
  const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR, 0600);
  if (fd >= 0) close(fd);
  return fd < 0 && errno == EOPNOTSUPP;
}

// A write that fails part-way (a full disk) keeps the older file whole and leaves no half file,
// whether the staging file has no name or, where the file system cannot make such a file, a
// unique one of its own. The file size limit makes the write fail; it is set in a child process so
// that nothing else of the test run is limited. The failure comes at once, not when the body is
// complete: a server that is still sending when the disk is full never gets to time the download
// out. A body within the limit is saved.
TEST_F(FetchTest, FailedWriteKeepsTheOlderFile) {
  const struct {
    const char* name;
    std::optional<std::string> older;
    bool serverStillSending;  // the rest of a 10 MiB body never comes
    bool unnamedFiles = true;
    bool fits = false;  // a body within the limit
  } cases[] = {
      {"no older file", std::nullopt, false},
      {"older file", std::string("old"), false},
      {"older file larger than the limit", std::string(4000, 'o'), false},
      {"server still sending", std::string("old"), true},
      {"a body that fits", std::string("old"), false, true, true},
      {"no unnamed files: no older file", std::nullopt, false, false},
      {"no unnamed files: older file", std::string("old"), false, false},
      {"no unnamed files: server still sending", std::string("old"), true, false},
      {"no unnamed files: a body that fits", std::string("old"), false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body(c.fits ? 900 : 64 * 1024, 'w');
    ScriptedServer server;
    const size_t announced = c.serverStillSending ? 10 * 1024 * 1024 : body.size();
    server.AddScript(ServerScript()
                         .Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(announced) +
                               "\r\n\r\n" + body)
                         .EndWith(c.serverStillSending ? ServerScript::Ending::kHoldOpen
                                                       : ServerScript::Ending::kClose));
    const std::u16string path = dir_.File(u"partial.bin");
    std::filesystem::remove(std::filesystem::path(path));
    if (c.older) test::WriteFileBytes(path, *c.older);
    const std::u16string url = U16(server.BaseUrl() + "f");
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
      if (!c.unnamedFiles && !RefuseUnnamedFiles(dir_.Path().string())) _exit(2);
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{1000, 1000};
      setrlimit(RLIMIT_FSIZE, &limit);
      FetchOptions options;
      options.readTimeoutMs = 20000;  // a failure reported only at the end comes as a time-out
      const auto failure = Fetch(url, path, options);
      const bool expected = c.fits ? !failure
                                   : failure && failure->kind == "EWriteError" &&
                                         failure->message == "Stream write error";
      _exit(expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    if (c.fits) {
      EXPECT_EQ(body, test::ReadFileBytes(path));
    } else if (c.older) {
      EXPECT_EQ(*c.older, test::ReadFileBytes(path));
    }
    const bool kept = c.older || c.fits;
    EXPECT_EQ(kept ? std::vector<std::string>{"partial.bin"} : std::vector<std::string>{},
              test::NamesIn(dir_.Path()));
  }
}
#endif

}  // namespace
}  // namespace vanto::net
