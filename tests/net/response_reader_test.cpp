// Reading responses from memory: every row of the HTTP cases that needs no socket, fed whole, in
// pieces around the line limit and in small pieces down to single bytes.
#include "net/response_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "net/byte_source.h"
#include "net/errors.h"
#include "net/http_cases.h"
#include "net/line_reader.h"
#include "support/http_outcome.h"

namespace vanto::net {
namespace {

TEST(ResponseReader, EveryRowWholeAndInPieces) {
  for (const test::HttpCase& row : test::HttpCases()) {
    if (!test::ReadsFromMemory(row)) continue;
    ResponseLimits limits;
    limits.maxBodyBytes = row.maxBodyBytes;
    const size_t whole = row.response.size() + 1;
    for (size_t piece :
         {whole, size_t{16386}, size_t{16385}, size_t{16384}, size_t{7}, size_t{2}, size_t{1}}) {
      SCOPED_TRACE(std::string(row.name) + ", pieces of " + std::to_string(piece));
      EXPECT_EQ(row.expected, test::ReadResponseInPieces(row.response, piece, limits));
    }
  }
}

// An over-long line is refused before more of it than the limit is copied, however it arrives.
TEST(ResponseReader, LongLinesAreNotCopiedWhole) {
  const struct {
    size_t length;
    size_t piece;
  } cases[] = {
      {1 << 20, (1 << 20) + 1}, {16386, 16387}, {16386, 16384}, {40000, 7}, {16386, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " in pieces of " + std::to_string(c.piece));
    const std::string raw(c.length, 'h');
    MemorySource source(raw.data(), raw.size(), c.piece);
    LineReader reader(source);
    std::string line;
    size_t rawBytes = 0;
    EXPECT_THROW(reader.ReadLine(line, rawBytes), EIdReadLnMaxLineLengthExceeded);
    EXPECT_LE(line.size(), size_t{16385});
  }
}

TEST(ResponseReader, StatusCodes) {
  const struct {
    const char* line;
    int code;
  } cases[] = {
      {"HTTP/1.1 200 OK", 200},
      {"HTTP/1.1 200", 200},
      {"HTTP/1.1 404 Not Found", 404},
      {"HTTP/1.1", -1},
      {"HTTP/1.1 ", -1},
      {"HTTP/1.1 OK 200", -1},
      {"HTTP/1.1 -200 OK", -1},
      {"HTTP/1.1 +200 OK", -1},
      {"HTTP/1.1 0200 OK", 200},
      {"HTTP/1.1 99999999999 X", -1},
      {" 200 OK", 200},
      {"", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.code, StatusCodeOf(c.line)) << c.line;
}

}  // namespace
}  // namespace vanto::net
