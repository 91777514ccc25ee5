#include "net/body_buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "net/byte_source.h"
#include "net/errors.h"
#include "net/line_reader.h"
#include "net/response_reader.h"

namespace vanto::net {
namespace {

std::string Flatten(const BodyBuffer& body) {
  std::string bytes;
  for (auto block : body.Blocks()) bytes.append(block.data(), block.size());
  return bytes;
}

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

// What is reserved stays within a block of the data that actually came, whatever was announced.
TEST(BodyBuffer, ReservesLittleAheadOfTheData) {
  const std::string chunk(1000, 'c');
  for (size_t total : {size_t{0}, size_t{1}, size_t{70000}, size_t{1} << 20, size_t{40} << 20}) {
    SCOPED_TRACE(total);
    BodyBuffer body;
    for (size_t n = 0; n < total; n += chunk.size()) body.Append(chunk.data(), chunk.size());
    EXPECT_LE(body.Capacity(), body.Size() + 64 * 1024 + std::min<size_t>(body.Size(), 16 << 20));
  }
}

TEST(BodyBuffer, LyingLengthsReserveNothingLarge) {
  const struct {
    const char* name;
    std::string raw;
    bool withinLimit;
  } cases[] = {
      {"length at the limit", "HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\nabc", true},
      {"chunk at the limit", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7FFFFFFF\r\nabc",
       true},
      {"length past the limit", "HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\n\r\nabc", false},
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
    EXPECT_LE(body.Capacity(), 64u * 1024);
  }
}

}  // namespace
}  // namespace vanto::net
