#include "net/body_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "net/byte_source.h"
#include "net/errors.h"
#include "net/line_reader.h"
#include "net/response_reader.h"
#include "support/http_outcome.h"

namespace vanto::net {
namespace {

using test::Flatten;

// What a buffer may hold in reserve whatever it was told: little beside the 2 GiB a length can
// announce.
constexpr std::uint64_t kSmallReserve = 1 << 20;

TEST(BodyBuffer, KeepsTheBytesInOrderAcrossBlocks) {
  BodyBuffer body;
  std::string expected;
  for (size_t piece :
       {size_t{1}, size_t{65535}, size_t{2}, size_t{300000}, size_t{5000000}, size_t{20000000}}) {
    std::string bytes(piece, '\0');
    for (size_t i = 0; i < piece; ++i) bytes[i] = static_cast<char>(expected.size() + i * 31);
    body.Append(bytes.data(), bytes.size());
    expected += bytes;
  }
  EXPECT_EQ(expected.size(), body.Size());
  EXPECT_GT(body.Blocks().size(), 1u);
  EXPECT_TRUE(Flatten(body) == expected);
  body.Clear();
  EXPECT_TRUE(body.Empty());
  EXPECT_TRUE(body.Blocks().empty());
}

// What is reserved grows with the data that came: never more than as much again, and little for a
// small body. The block sizes are the buffer's own choice; this is the bound they serve.
TEST(BodyBuffer, ReservesLittleAheadOfTheData) {
  const std::string chunk(1000, 'c');
  for (size_t total : {size_t{0}, size_t{1}, size_t{70000}, size_t{1} << 20, size_t{40} << 20}) {
    SCOPED_TRACE(total);
    BodyBuffer body;
    for (size_t n = 0; n < total; n += chunk.size()) body.Append(chunk.data(), chunk.size());
    EXPECT_LE(body.Capacity(), std::max<std::uint64_t>(2 * body.Size(), kSmallReserve));
  }
}

// A lying length must not make the buffer reserve more than the data that came, whether the
// announcement is within the limit (the reading fails at the close) or past it (it fails at once).
TEST(BodyBuffer, LyingLengthsReserveNothingLarge) {
  const struct {
    const char* name;
    std::string raw;
    bool withinLimit;
  } cases[] = {
      {"length at the limit", "HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\nabc", true},
      {"chunk at the limit", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7FFFFFFF\r\nabc",
       true},
      {"length of two billion", "HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\nabc", true},
      {"length past the limit", "HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\n\r\nabc", false},
      {"length of 10^12", "HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\nabc", false},
      {"chunk past the limit",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFF\r\nabc", false},
      // 2^32 + 3: cut to 32 bits it would be the 3 bytes that came, a complete body.
      {"length that wraps in 32 bits", "HTTP/1.1 200 OK\r\nContent-Length: 4294967299\r\n\r\nabc",
       false},
      {"chunk that wraps in 32 bits",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000003\r\nabc\r\n0\r\n\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource source(c.raw.data(), c.raw.size());
    LineReader reader(source);
    BodyBuffer body;
    if (c.withinLimit) {
      EXPECT_THROW(ReadResponse(reader, body, {}), EIdConnClosedGracefully);
      EXPECT_EQ(3u, body.Size());
    } else {
      EXPECT_THROW(ReadResponse(reader, body, {}), EOutOfMemory);
      EXPECT_EQ(0u, body.Size());
    }
    EXPECT_LE(body.Capacity(), kSmallReserve);
  }
}

}  // namespace
}  // namespace vanto::net
