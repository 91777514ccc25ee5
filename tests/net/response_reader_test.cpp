// Reading responses from memory: every row of the HTTP cases that needs no socket, fed whole, in
// pieces around the line limit and in small pieces down to single bytes.
#include "net/response_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "net/http_cases.h"
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
