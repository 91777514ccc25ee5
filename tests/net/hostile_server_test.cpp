// Hostile servers on loopback: the rows of the HTTP cases marked for it are served one byte at a
// time and in seeded random splits (the fetch cases serve every row whole). Each must end in its
// expected error with the older file untouched and nothing else left, or in success with the file
// holding exactly the body; none may crash, hang past the read time-out or hold more body than
// its limit.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "net/fetch.h"
#include "net/http_cases.h"
#include "support/http_outcome.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wine.h"

namespace vanto::net {
namespace {

using test::HttpCase;
using test::ScriptedServer;
using test::ServerScript;
using Ending = ServerScript::Ending;
using Clock = std::chrono::steady_clock;

// Returns whether every outcome was the row's own (see ExpectFetchOutcome).
bool ServeInSplits(bool resets) {
  bool own = true;
  unsigned seed = 20261208;
  for (const HttpCase& row : test::HttpCases()) {
    if (!row.splits || (row.ending == Ending::kReset) != resets) continue;
    {
      SCOPED_TRACE(std::string(row.name) + ", one byte at a time");
      own &= test::ExpectFetchOutcome(row, test::BytewiseScript(row), true);
    }
    {
      SCOPED_TRACE(std::string(row.name) + ", random splits");
      own &= test::ExpectFetchOutcome(row, test::RandomSplitScript(row, ++seed), true);
    }
  }
  return own;
}

TEST(HostileServer, EveryRowBytewiseAndInRandomSplits) {
  ServeInSplits(false);
}

// As the fetch's reset rows: a reset read as a close is checked as such and counted as skipped.
TEST(HostileServer, ResetRowsBytewiseAndInRandomSplits) {
  if (!ServeInSplits(true)) GTEST_SKIP() << test::kResetsAsClosesReason;
}

// A server that drips a byte just inside the read time-out is stopped by the body limit, not by
// time: every read gets its byte, so only the limit can end the download.
TEST(HostileServer, DripWithinTheTimeOutEndsAtTheBodyLimit) {
  const char kOldContent[] = "the file from before, which a failed download must leave alone";
  const char kChunked[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const struct {
    const char* name;
    std::string head;
    std::string drop;  // one drip, sent every 100 ms
    bool waits;        // whether the limit is reached only after dripping
  } cases[] = {
      {"until close", "HTTP/1.1 200 OK\r\n\r\n", "d", true},
      {"chunks", kChunked, "1\r\nd\r\n", true},
      {"failure body", "HTTP/1.1 500 Internal Server Error\r\n\r\n", "d", true},
      {"announced length beyond the limit", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", "d",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::u16string path = dir.File(u"dripped.bin");
    ScriptedServer server;
    ServerScript script;
    script.Send(c.head);
    for (int i = 0; i < 60; ++i) script.Send(c.drop).Pause(100);
    server.AddScript(script.EndWith(Ending::kHoldOpen));
    test::WriteFileBytes(path, kOldContent);
    FetchOptions options;
    options.readTimeoutMs = 300;
    options.maxBodyBytes = 20;
    const auto start = Clock::now();
    const test::HttpOutcome got =
        test::FetchToOutcome(server.BaseUrl() + "setup.exe", path, options);
    const auto took = Clock::now() - start;
    EXPECT_EQ((test::HttpOutcome{"EOutOfMemory", "Out of memory", 0, "", 0}), got);
    EXPECT_EQ(kOldContent, test::ReadFileBytes(path));
    EXPECT_EQ(std::vector<std::string>{"dripped.bin"}, test::NamesIn(dir.Path()));
    if (c.waits) {
      // Twenty drips of 100 ms: far past one time-out, yet no time-out fired.
      EXPECT_GE(took, std::chrono::milliseconds(1500));
      EXPECT_LT(took, std::chrono::milliseconds(5000));
    } else {
      EXPECT_LT(took, std::chrono::milliseconds(1000));
    }
  }
}

}  // namespace
}  // namespace vanto::net
