// Reading responses from memory, each case fed whole and in small pieces down to single bytes.
#include "net/response_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "net/errors.h"
#include "platform/utf.h"

namespace vanto::net {
namespace {

struct Outcome {
  std::string kind;  // empty on success
  std::string message;
  int code = 0;
  std::string body;  // the downloaded body, or the failure's body kept in the error
};

std::string Flatten(const BodyBuffer& body) {
  std::string bytes;
  for (auto block : body.Blocks()) bytes.append(block.data(), block.size());
  return bytes;
}

Outcome Read(const std::string& raw, size_t piece, const ResponseLimits& limits = {}) {
  MemorySource source(raw.data(), raw.size(), piece);
  LineReader reader(source);
  BodyBuffer body;
  Outcome outcome;
  try {
    outcome.code = ReadResponse(reader, body, limits).statusCode;
    outcome.body = Flatten(body);
  } catch (const EIdHTTPProtocolException& e) {
    outcome.kind = e.Kind();
    outcome.message = platform::Utf16ToUtf8(e.Message());
    outcome.code = e.ErrorCode();
    outcome.body = e.ErrorBody();
    EXPECT_TRUE(body.Empty()) << "a failed status must leave the caller's buffer empty";
  } catch (const Error& e) {
    outcome.kind = e.Kind();
    outcome.message = platform::Utf16ToUtf8(e.Message());
  }
  return outcome;
}

struct Case {
  const char* name;
  std::string raw;
  Outcome expected;
};

const char kClosed[] = "EIdConnClosedGracefully";
const char kClosedText[] = "Connection Closed Gracefully.";
const char kProtocol[] = "EIdHTTPProtocolException";
const char kTooLong[] = "EIdReadLnMaxLineLengthExceeded";
const char kTooLongText[] = "Max line length exceeded.";

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

const Case kCases[] = {
    {"content-length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", {"", "", 200, "hello"}},
    {"content-length, extra bytes ignored",
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhello",
     {"", "", 200, "he"}},
    {"content-length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nignored", {"", "", 200, ""}},
    {"204 reads no body", "HTTP/1.1 204 No Content\r\n\r\nignored", {"", "", 204, ""}},
    {"until close",
     "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nline 1\r\nline 2",
     {"", "", 200, "line 1\r\nline 2"}},
    {"LF only", "HTTP/1.1 200 OK\nContent-Length: 3\n\nabc", {"", "", 200, "abc"}},
    {"header names in any case",
     "HTTP/1.1 200 OK\r\ncontent-LENGTH:3\r\n\r\nabcdef",
     {"", "", 200, "abc"}},
    {"no reason phrase", "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx", {"", "", 200, "x"}},
    {"gzip kept as received",
     std::string(
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\n\x1f\x8b\x08\x00",
         67),
     {"", "", 200, std::string("\x1f\x8b\x08\x00", 4)}},
    {"binary body",
     std::string("HTTP/1.1 200 OK\r\n\r\n\0\r\n\xff", 23),
     {"", "", 200, std::string("\0\r\n\xff", 4)}},
    {"chunked with extensions and trailer",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;name=value\r\nhello\r\n6 ; x\r\n "
     "world\r\n0\r\nX-Trailer: 1\r\n\r\n",
     {"", "", 200, "hello world"}},
    {"chunked, hex sizes in any case",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, "
     "Chunked\r\n\r\na\r\n0123456789\r\nB\r\nabcdefghijk\r\n0\r\n\r\n",
     {"", "", 200, "0123456789abcdefghijk"}},
    {"chunked wins over content-length",
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: "
     "chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
     {"", "", 200, "abc"}},
    // A size line that is no number cannot end the body: that would save a truncated file.
    {"chunk size not a number",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nzz\r\n\r\n",
     {kClosed, kClosedText, 0, ""}},
    {"chunk size and a word",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2 x\r\nab\r\n0\r\n\r\n",
     {kClosed, kClosedText, 0, ""}},
    {"chunk extension without its semicolon",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2 ext\r\nab\r\n0\r\n\r\n",
     {kClosed, kClosedText, 0, ""}},
    {"chunk size line empty",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n\r\n0\r\n\r\n",
     {kClosed, kClosedText, 0, ""}},
    {"chunk sizes with blanks around them",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n 2 \r\nab\r\n\t1\t;x\r\nc\r\n 0 "
     "\r\n\r\n",
     {"", "", 200, "abc"}},
    {"a failure's chunk size not a number ends its body",
     "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nzz\r\n\r\n",
     {kProtocol, "HTTP/1.1 404 Not Found", 404, "ab"}},
    {"chunk size with leading zeros",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: "
     "chunked\r\n\r\n00000000000000000003\r\nabc\r\n0\r\n\r\n",
     {"", "", 200, "abc"}},
    {"chunk size beyond 64 bits",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\nabc\r\n0\r\n\r\n",
     {"EOutOfMemory", "Out of memory", 0, ""}},
    {"close inside a chunk",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
     {kClosed, kClosedText, 0, ""}},
    {"close before the last chunk",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n",
     {kClosed, kClosedText, 0, ""}},
    {"close inside the trailer",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\nX-T: 1\r\n",
     {kClosed, kClosedText, 0, ""}},
    {"content-length cut short",
     "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello",
     {kClosed, kClosedText, 0, ""}},
    {"close before the status line ends", "HTTP/1.1 200 O", {kClosed, kClosedText, 0, ""}},
    {"close before anything", "", {kClosed, kClosedText, 0, ""}},
    {"close inside the headers ends them",
     "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Partial: ab",
     {kClosed, kClosedText, 0, ""}},
    {"partial header line at the close fails a download",
     "HTTP/1.1 200 OK\r\nContent-Length: 0",
     {kClosed, kClosedText, 0, ""}},
    {"headers cut by the close fail a download",
     "HTTP/1.1 200 OK\r\nServer: x\r\n",
     {kClosed, kClosedText, 0, ""}},
    {"headers cut by the close still end a 204",
     "HTTP/1.1 204 No Content\r\nServer: x\r\n",
     {"", "", 204, ""}},
    {"headers cut by the close still end a failure",
     "HTTP/1.1 404 Not Found\r\nServer: x\r\n",
     {kProtocol, "HTTP/1.1 404 Not Found", 404, ""}},
    {"two equal lengths",
     "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 003\r\n\r\nabc",
     {"", "", 200, "abc"}},
    {"two lengths that disagree",
     "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
     {kProtocol, "HTTP/1.1 200 OK", 200, ""}},
    {"length beyond 64 bits reads until close",
     "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nabc",
     {"", "", 200, "abc"}},
    {"negative length reads until close",
     "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nabc",
     {"", "", 200, "abc"}},
    {"length not a number reads until close",
     "HTTP/1.1 200 OK\r\nContent-Length: 3a\r\n\r\nabc",
     {"", "", 200, "abc"}},
    {"100 then 200",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
     {"", "", 200, "ok"}},
    {"eight interim responses",
     Repeat("HTTP/1.1 100 Continue\r\n\r\n", 8) + "HTTP/1.1 200 OK\r\n\r\nok",
     {"", "", 200, "ok"}},
    {"nine interim responses",
     Repeat("HTTP/1.1 100 Continue\r\n\r\n", 9) + "HTTP/1.1 200 OK\r\n\r\nok",
     {kTooLong, kTooLongText, 0, ""}},
    {"lone 102",
     "HTTP/1.1 102 Processing\r\n\r\n",
     {kProtocol, "HTTP/1.1 102 Processing", 102, ""}},
    {"101 is final",
     "HTTP/1.1 101 Switching Protocols\r\n\r\nbody",
     {kProtocol, "HTTP/1.1 101 Switching Protocols", 101, ""}},
    {"404 keeps its body in the error",
     "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone",
     {kProtocol, "HTTP/1.1 404 Not Found", 404, "gone"}},
    {"404 with a short body",
     "HTTP/1.1 404 Not Found\r\nContent-Length: 40\r\n\r\ngone",
     {kProtocol, "HTTP/1.1 404 Not Found", 404, "gone"}},
    {"401",
     "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\nContent-Length: 0\r\n\r\n",
     {kProtocol, "HTTP/1.1 401 Unauthorized", 401, ""}},
    {"500 until close",
     "HTTP/1.0 500 Internal Server Error\r\n\r\noops",
     {kProtocol, "HTTP/1.0 500 Internal Server Error", 500, "oops"}},
    {"302 is not followed",
     "HTTP/1.1 302 Found\r\nLocation: http://other/\r\nContent-Length: 5\r\n\r\nmoved",
     {kProtocol, "HTTP/1.1 302 Found", 302, "moved"}},
    {"301 announcing no body",
     "HTTP/1.1 301 Moved Permanently\r\nContent-Length: 0\r\n\r\n",
     {kProtocol, "HTTP/1.1 301 Moved Permanently", 301, ""}},
    {"304 reads no body",
     "HTTP/1.1 304 Not Modified\r\n\r\nignored",
     {kProtocol, "HTTP/1.1 304 Not Modified", 304, ""}},
    {"a failure's broken chunks win",
     "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nab",
     {kClosed, kClosedText, 0, ""}},
    {"reason with bytes beyond ASCII",
     "HTTP/1.1 404 \xEC\x97\x86\xEC\x9D\x8C\r\nContent-Length: 0\r\n\r\n",
     {kProtocol, "HTTP/1.1 404 ??????", 404, ""}},
    {"no status code", "HELLO\r\n\r\n", {kProtocol, "HELLO", -1, ""}},
    {"status code not digits", "HTTP/1.1 2x0 OK\r\n\r\n", {kProtocol, "HTTP/1.1 2x0 OK", -1, ""}},
    {"status code after two spaces",
     "HTTP/1.1  200 OK\r\n\r\n",
     {kProtocol, "HTTP/1.1  200 OK", -1, ""}},
    {"status line kept whole",
     "HTTP/1.1 403 Forbidden  \r\n\r\n",
     {kProtocol, "HTTP/1.1 403 Forbidden  ", 403, ""}},
};

TEST(ResponseReader, CasesWholeAndInPieces) {
  for (const Case& c : kCases) {
    for (size_t piece : {c.raw.size() + 1, size_t{7}, size_t{2}, size_t{1}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Outcome got = Read(c.raw, piece);
      EXPECT_EQ(c.expected.kind, got.kind);
      EXPECT_EQ(c.expected.message, got.message);
      if (c.expected.kind.empty() || c.expected.kind == kProtocol) {
        EXPECT_EQ(c.expected.code, got.code);
        EXPECT_EQ(c.expected.body, got.body);
      }
    }
  }
}

std::string StatusLineOfLength(size_t length) {
  std::string line = "HTTP/1.1 200 ";
  return line + std::string(length - line.size(), 'x');
}

std::string HeaderLineOfLength(size_t length) {
  std::string line = "X-Long: ";
  return line + std::string(length - line.size(), 'y');
}

// 16384 bytes before the terminator are a line; one more is not, however the bytes arrive.
TEST(ResponseReader, LineLimit) {
  const struct {
    const char* name;
    std::string raw;
    bool accepted;
  } cases[] = {
      {"status 16384", StatusLineOfLength(16384) + "\r\n\r\nok", true},
      {"status 16384 LF", StatusLineOfLength(16384) + "\n\nok", true},
      {"status 16385", StatusLineOfLength(16385) + "\r\n\r\nok", false},
      {"status 16385 LF", StatusLineOfLength(16385) + "\n\nok", false},
      {"status 16384 then CR CR LF", StatusLineOfLength(16384) + "\r\r\n\r\nok", false},
      {"header 16384", "HTTP/1.1 200 OK\r\n" + HeaderLineOfLength(16384) + "\r\n\r\nok", true},
      {"header 16385", "HTTP/1.1 200 OK\r\n" + HeaderLineOfLength(16385) + "\r\n\r\nok", false},
      {"header without end", "HTTP/1.1 200 OK\r\n" + HeaderLineOfLength(20000), false},
      {"chunk line 16385",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2;" + std::string(16383, 'e') +
           "\r\nok\r\n0\r\n\r\n",
       false},
      {"chunk line 16384",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2;" + std::string(16382, 'e') +
           "\r\nok\r\n0\r\n\r\n",
       true},
  };
  for (const auto& c : cases) {
    for (size_t piece :
         {c.raw.size() + 1, size_t{16384}, size_t{16385}, size_t{16386}, size_t{1}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Outcome got = Read(c.raw, piece);
      if (c.accepted) {
        EXPECT_EQ("", got.kind);
        EXPECT_EQ("ok", got.body);
      } else {
        EXPECT_EQ(kTooLong, got.kind);
        EXPECT_EQ(kTooLongText, got.message);
      }
    }
  }
}

TEST(ResponseReader, HeadBudget) {
  const std::string line = HeaderLineOfLength(1022) + "\r\n";  // 1 KiB with its CR LF
  const std::string within = "HTTP/1.1 200 OK\r\n" + Repeat(line, 250) + "\r\nok";
  const std::string beyond = "HTTP/1.1 200 OK\r\n" + Repeat(line, 257) + "\r\nok";
  const std::string trailers =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n" + Repeat(line, 257) +
      "\r\n";
  EXPECT_EQ("ok", Read(within, 1000).body);
  EXPECT_EQ(kTooLong, Read(beyond, 1000).kind);
  EXPECT_EQ(kTooLong, Read(trailers, 1000).kind);
}

TEST(ResponseReader, BodyLimit) {
  ResponseLimits limits;
  limits.maxBodyBytes = 10;
  const struct {
    const char* name;
    std::string raw;
    const char* kind;
  } cases[] = {
      {"length at the limit", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", ""},
      {"length beyond the limit", "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n", "EOutOfMemory"},
      {"until close at the limit", "HTTP/1.1 200 OK\r\n\r\n0123456789", ""},
      {"until close beyond the limit", "HTTP/1.1 200 OK\r\n\r\n0123456789a", "EOutOfMemory"},
      {"chunks at the limit",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n01234\r\n5\r\n56789\r\n0\r\n\r\n",
       ""},
      {"chunks beyond the limit",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n01234\r\n6\r\n", "EOutOfMemory"},
      {"huge chunk announced",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\n", "EOutOfMemory"},
  };
  for (const auto& c : cases) {
    for (size_t piece : {c.raw.size() + 1, size_t{1}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Outcome got = Read(c.raw, piece, limits);
      EXPECT_EQ(c.kind, got.kind);
      if (got.kind == "EOutOfMemory") {
        EXPECT_EQ("Out of memory", got.message);
      }
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

// A lying length must not make the buffer reserve more than the data that came.
TEST(ResponseReader, AllocationFollowsTheData) {
  const std::string raw = "HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\nabc";
  const Outcome got = Read(raw, raw.size());
  EXPECT_EQ(kClosed, got.kind);
  // Past the limit, which every build shares, the announcement alone fails.
  const std::string huge = "HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\nabc";
  EXPECT_EQ("EOutOfMemory", Read(huge, huge.size()).kind);
}

}  // namespace
}  // namespace vanto::net
