#include "net/http_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "support/http_text.h"
#include "support/wine.h"

namespace vanto::test {
namespace {

using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

HttpOutcome Ok(std::string body, int code = 200) {
  return {"", "", code, std::move(body), 0};
}
HttpOutcome Status(int code, std::string statusLine, std::string body = "") {
  return {"EIdHTTPProtocolException", std::move(statusLine), code, std::move(body), 0};
}
HttpOutcome Closed() {
  return {"EIdConnClosedGracefully", "Connection Closed Gracefully.", 0, "", 0};
}
HttpOutcome TooLong() {
  return {"EIdReadLnMaxLineLengthExceeded", "Max line length exceeded.", 0, "", 0};
}
HttpOutcome OutOfMemory() {
  return {"EOutOfMemory", "Out of memory", 0, "", 0};
}
HttpOutcome TimedOut() {
  return {"EIdReadTimeout", "Read timed out.", 0, "", 0};
}
HttpOutcome BadLength() {
  return {"EIdInvalidContentLength", "Invalid Content-Length.", 0, "", 0};
}
HttpOutcome BadCoding() {
  return {"EIdUnsupportedTransferEncoding", "Unsupported Transfer-Encoding.", 0, "", 0};
}
HttpOutcome Reset() {
  return {"EIdSocketError", "Socket Error # 10054\r\nConnection reset by peer.", 10054, "", 0};
}

HttpCase Row(const char* name, std::string response, HttpOutcome expected,
             Ending ending = Ending::kClose) {
  return {name, std::move(response), std::move(expected), ending};
}

std::string Ok200(const std::string& rest) {
  return "HTTP/1.1 200 OK\r\n" + rest;
}
const std::string kChunked = Ok200("Transfer-Encoding: chunked\r\n\r\n");

// Three blocks' worth of every byte value, so that a body never passes for text.
std::string LargeBody() {
  std::string body(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 256);
  return body;
}

std::string InChunks(const std::string& body, size_t size) {
  std::string out = kChunked;
  for (size_t at = 0; at < body.size(); at += size) {
    const std::string piece = body.substr(at, size);
    char line[32];
    std::snprintf(line, sizeof(line), "%zx;ext=1\r\n", piece.size());
    out += line + piece + "\r\n";
  }
  return out + "0\r\nX-Trailer: done\r\n\r\n";
}

constexpr size_t kBytewiseBytes = 256;
const char kOlderFile[] =
    "the file from before, longer than most bodies, which only a whole body "
    "may replace and which every failure must leave alone";

}  // namespace

std::vector<HttpCase> HttpCases() {
  const std::string large = LargeBody();
  const std::string filler = "X-Filler: " + std::string(90, 'f') + "\r\n";  // 102 bytes
  const std::string kibLine = HeaderLineOfLength(1022) + "\r\n";            // 1 KiB
  const std::string endlessHeaders = Repeat(filler, 4000);                  // ~400 KiB
  const size_t aroundTheLimit = 17 + 16384 - 16;  // where byte-at-a-time feeds start
  return {
      // Bodies by length, by chunks and up to the close.
      Row("content-length", Ok200("Content-Length: 5\r\n\r\nhello"), Ok("hello")),
      Row("content-length 0", Ok200("Content-Length: 0\r\n\r\nignored"), Ok("")),
      // The client stops at the length and does not wait for the server to close.
      // A reader that asked for one byte more would wait for the time-out here.
      Row("exact Content-Length body, connection held open by the server",
          Ok200("Content-Length: 5\r\n\r\nhello"), Ok("hello"), Ending::kHoldOpen)
          .Splits(),
      Row("extra bytes after the Content-Length body",
          Ok200("Content-Length: 5\r\n\r\nhelloEXTRA BYTES"), Ok("hello"), Ending::kHoldOpen)
          .Splits(),
      Row("204 reads no body", "HTTP/1.1 204 No Content\r\n\r\nignored", Ok("", 204),
          Ending::kHoldOpen),
      Row("until close", Ok200("Server: x\r\n\r\nline 1\r\nline 2"), Ok("line 1\r\nline 2")),
      Row("binary body until close", Ok200("\r\n\0\r\n\xff"s), Ok("\0\r\n\xff"s)),
      Row("3 MiB by length",
          Ok200("Content-Length: " + std::to_string(large.size()) + "\r\n\r\n" + large), Ok(large)),
      Row("3 MiB in chunks", InChunks(large, 100000), Ok(large)).InPieces(65536, 0),
      Row("3 MiB until close", "HTTP/1.0 200 OK\r\n\r\n" + large, Ok(large)),
      Row("slow pieces", Ok200("Content-Length: 4\r\n\r\nslow"), Ok("slow")).InPieces(3, 30),
      Row("bare LF line ends", "HTTP/1.1 200 OK\nContent-Length: 5\n\nhello", Ok("hello")).Splits(),
      Row("header names in any case", Ok200("content-LENGTH:3\r\n\r\nabcdef"), Ok("abc")),
      Row("gzip kept as received",
          Ok200("Content-Encoding: gzip\r\nContent-Length: 4\r\n\r\n\x1f\x8b\x08\x00"s),
          Ok("\x1f\x8b\x08\x00"s)),

      // Connections that end too early.
      Row("close before anything", "", Closed()).Splits(),
      Row("close before the status line ends", "HTTP/1.1 200 O", Closed()),
      Row("close inside the headers", Ok200("Content-Length: 5\r\nX-Partial: ab"), Closed()),
      Row("close inside the last header line", Ok200("Content-Length: 0"), Closed()),
      // Headers that never reach their empty line leave no body to save.
      Row("close before the empty line", Ok200("Server: x\r\n"), Closed()).Splits(),
      Row("close before the empty line still ends a 204",
          "HTTP/1.1 204 No Content\r\nServer: x\r\n", Ok("", 204)),
      Row("close before the empty line still ends a failure",
          "HTTP/1.1 404 Not Found\r\nServer: x\r\n", Status(404, "HTTP/1.1 404 Not Found")),
      Row("close inside a length's body", Ok200("Content-Length: 10\r\n\r\nhalf!"), Closed())
          .Splits(),
      Row("close inside a chunk", kChunked + "a\r\nhalf", Closed()).Splits(),
      Row("close before the last chunk", kChunked + "2\r\nab\r\n", Closed()).Splits(),
      Row("close inside the trailer", kChunked + "1\r\na\r\n0\r\nX-T: 1\r\n", Closed()),
      // An abortive close after the request was read.
      Row("reset mid-status", "HTTP/1.1 20", Reset(), Ending::kReset).Splits(),
      Row("reset mid-headers", Ok200("Content-Le"), Reset(), Ending::kReset).Splits(),
      Row("reset mid-body", Ok200("Content-Length: 100\r\n\r\nabc"), Reset(), Ending::kReset)
          .Splits(),
      Row("reset mid-chunk", kChunked + "a\r\nabc", Reset(), Ending::kReset).Splits(),

      // Status lines. Only the second word is judged; the protocol name is not.
      Row("no reason phrase", "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx", Ok("x")),
      Row("HTP/1.1 200", "HTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", Ok("hello")).Splits(),
      Row("HTTP/1.1 alone", "HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc",
          Status(-1, "HTTP/1.1", "abc"))
          .Splits(),
      Row("missing code", "HTTP/1.1 OK\r\n\r\nbody", Status(-1, "HTTP/1.1 OK", "body")).Splits(),
      Row("no status code", "HELLO\r\n\r\n", Status(-1, "HELLO")),
      Row("status code not digits", "HTTP/1.1 2x0 OK\r\n\r\n", Status(-1, "HTTP/1.1 2x0 OK")),
      Row("status code after two spaces", "HTTP/1.1  200 OK\r\n\r\n",
          Status(-1, "HTTP/1.1  200 OK")),
      Row("4-digit code", "HTTP/1.1 2000 OK\r\nContent-Length: 2\r\n\r\nok",
          Status(2000, "HTTP/1.1 2000 OK", "ok"))
          .Splits(),
      Row("4-digit code with a leading zero is 200",
          "HTTP/1.1 0200 OK\r\nContent-Length: 2\r\n\r\nok", Ok("ok"))
          .Splits(),
      Row("status line kept whole", "HTTP/1.1 403 Forbidden  \r\n\r\n",
          Status(403, "HTTP/1.1 403 Forbidden  ")),
      Row("reason with bytes beyond ASCII",
          "HTTP/1.1 404 \xEC\x97\x86\xEC\x9D\x8C\r\nContent-Length: 0\r\n\r\n",
          Status(404, "HTTP/1.1 404 ??????")),

      // Failed statuses: the body is read into the error, never into the caller's buffer.
      Row("404 keeps its body in the error",
          "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone",
          Status(404, "HTTP/1.1 404 Not Found", "gone")),
      // Only the first 4 KiB of a refused body are kept; the rest is read and dropped.
      Row("404 with a 3 MiB body",
          "HTTP/1.1 404 Not Found\r\nContent-Length: " + std::to_string(large.size()) + "\r\n\r\n" +
              large,
          Status(404, "HTTP/1.1 404 Not Found", large.substr(0, 4096))),
      Row("500 with a 3 MiB body in chunks",
          "HTTP/1.1 500 Internal Server Error" + InChunks(large, 100000).substr(15),
          Status(500, "HTTP/1.1 500 Internal Server Error", large.substr(0, 4096))),
      Row("404 with a short body", "HTTP/1.1 404 Not Found\r\nContent-Length: 40\r\n\r\ngone",
          Status(404, "HTTP/1.1 404 Not Found", "gone")),
      Row("401",
          "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\nContent-Length: 0\r\n\r\n",
          Status(401, "HTTP/1.1 401 Unauthorized")),
      Row("500 until close", "HTTP/1.0 500 Internal Server Error\r\n\r\noops",
          Status(500, "HTTP/1.0 500 Internal Server Error", "oops")),
      Row("302 is not followed",
          "HTTP/1.1 302 Found\r\nLocation: http://other/\r\nContent-Length: 5\r\n\r\nmoved",
          Status(302, "HTTP/1.1 302 Found", "moved")),
      Row("301 announcing no body", "HTTP/1.1 301 Moved Permanently\r\nContent-Length: 0\r\n\r\n",
          Status(301, "HTTP/1.1 301 Moved Permanently")),
      Row("304 reads no body", "HTTP/1.1 304 Not Modified\r\n\r\nignored",
          Status(304, "HTTP/1.1 304 Not Modified")),
      Row("a failure's broken chunks win",
          "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nab", Closed()),

      // Interim responses: only 100 is skipped, eight times at most.
      Row("100 then 200", "HTTP/1.1 100 Continue\r\n\r\n" + Ok200("Content-Length: 2\r\n\r\nok"),
          Ok("ok"))
          .InPieces(25, 50),
      Row("eight 100s then 200",
          Repeat("HTTP/1.1 100 Continue\r\nX: y\r\n\r\n", 8) + Ok200("Content-Length: 2\r\n\r\nok"),
          Ok("ok"))
          .Splits(),
      Row("nine 100s then 200",
          Repeat("HTTP/1.1 100 Continue\r\n\r\n", 9) + Ok200("Content-Length: 2\r\n\r\nok"),
          TooLong(), Ending::kHoldOpen)
          .Splits(),
      Row("endless 100s", Repeat("HTTP/1.1 100 Continue\r\n\r\n", 50), TooLong(), Ending::kHoldOpen)
          .Splits(),
      Row("lone 102", "HTTP/1.1 102 Processing\r\n\r\n", Status(102, "HTTP/1.1 102 Processing")),
      Row("101 is final", "HTTP/1.1 101 Switching Protocols\r\n\r\nbody",
          Status(101, "HTTP/1.1 101 Switching Protocols")),

      // Line ends and odd bytes.
      // The lone CR stays inside the status line, so no Content-Length was seen.
      Row("lone CR in the status line", "HTTP/1.1 200 OK\rContent-Length: 5\r\n\r\nhello world",
          Ok("hello world"))
          .Splits(),
      Row("lone CR before the CR LF of a header", Ok200("Content-Length: 5\r\r\n\r\nhelloXX"),
          Ok("hello"))
          .Splits(),
      // "\r\r\n" is a line holding one CR, not the empty line: the headers never end.
      Row("lone CR where the empty line belongs", Ok200("Content-Length: 5\r\n\r\r\nhello"),
          Closed())
          .Splits(),
      Row("NUL in a header", Ok200("X-Nul: a\0b\r\nContent-Length: 5\r\n\r\nhelloXX"s), Ok("hello"))
          .Splits(),
      Row("NUL inside the length",
          Ok200("Content-Length: 5\0"
                "6\r\n\r\nhelloXX"s),
          BadLength())
          .Splits(),
      // A line starting with a blank continues the header line before it (obs-fold), as the
      // server means it: a length it continues is "3 4", no number; one it carries is no header.
      Row("obs-fold continuing a length", Ok200("Content-Length: 3\r\n 4\r\n\r\nabcdef"),
          BadLength())
          .Splits(),
      Row("obs-fold carrying a length", Ok200("X-A: b\r\n Content-Length: 3\r\n\r\nabcdef"),
          Ok("abcdef"))
          .Splits(),
      Row("obs-fold continuing the coding",
          Ok200("Transfer-Encoding:\r\n\tchunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"), Ok("abc")),
      // Before the first header there is nothing to continue: the line is dropped.
      Row("obs-fold before any header", Ok200(" Content-Length: 3\r\n\r\nabcdef"), Ok("abcdef")),
      Row("obs-fold after a line that is no header",
          Ok200("Content-Length: 3\r\nX-A b\r\n 4\r\n\r\nabcdef"), Ok("abc")),

      // 16384 bytes before the terminator are a line; one more is not, however the bytes come.
      Row("16384-byte status line", StatusLineOfLength(16384) + "\r\nContent-Length: 2\r\n\r\nok",
          Ok("ok"))
          .Splits(16384 - 16),
      Row("16384-byte status line, LF only", StatusLineOfLength(16384) + "\n\nok", Ok("ok")),
      Row("16385-byte status line", StatusLineOfLength(16385) + "\r\n\r\nok", TooLong()),
      Row("16385-byte status line, LF only", StatusLineOfLength(16385) + "\n\nok", TooLong()),
      Row("16384-byte status line then CR CR LF", StatusLineOfLength(16384) + "\r\r\n\r\nok",
          TooLong()),
      Row("16384-byte header line",
          Ok200(HeaderLineOfLength(16384) + "\r\nContent-Length: 2\r\n\r\nok"), Ok("ok"))
          .Splits(aroundTheLimit),
      Row("16384-byte header line, LF only",
          Ok200(HeaderLineOfLength(16384) + "\nContent-Length: 2\n\nok"), Ok("ok"))
          .Splits(aroundTheLimit),
      Row("16385-byte header line",
          Ok200(HeaderLineOfLength(16385) + "\r\nContent-Length: 2\r\n\r\nok"), TooLong(),
          Ending::kHoldOpen)
          .Splits(aroundTheLimit),
      Row("16384-byte header line then CR CR LF",
          Ok200(HeaderLineOfLength(16384) + "\r\r\nContent-Length: 2\r\n\r\nok"), TooLong(),
          Ending::kHoldOpen)
          .Splits(aroundTheLimit),
      Row("header line without end", Ok200(std::string(100000, 'h')), TooLong(), Ending::kHoldOpen)
          .Splits(aroundTheLimit),
      Row("16384-byte chunk-size line",
          kChunked + "2;" + std::string(16382, 'e') + "\r\nok\r\n0\r\n\r\n", Ok("ok")),
      Row("16385-byte chunk-size line",
          kChunked + "2;" + std::string(16383, 'e') + "\r\nok\r\n0\r\n\r\n", TooLong()),
      // One byte at a time for the first 256 bytes only.
      Row("1 MiB chunk extension",
          kChunked + "3;" + std::string(1 << 20, 'e') + "\r\nabc\r\n0\r\n\r\n", TooLong(),
          Ending::kHoldOpen)
          .Splits(),
      Row("chunk data longer than a line",
          kChunked + "5\r\nhello" + std::string(20000, 'x') + "\r\n0\r\n\r\n", TooLong(),
          Ending::kHoldOpen)
          .Splits(),

      // A head is 256 KiB at most, trailers included: the client gives up while the server
      // still sends or holds on.
      Row("headers just within 256 KiB",
          Ok200(Repeat(filler, 2500) + "Content-Length: 2\r\n\r\nok"), Ok("ok"))
          .Splits(),
      Row("headers just past 256 KiB", Ok200(Repeat(kibLine, 257) + "\r\nok"), TooLong()),
      Row("endless headers", Ok200(endlessHeaders), TooLong(), Ending::kHoldOpen).Splits(),
      Row("endless trailers", kChunked + "3\r\nabc\r\n0\r\n" + endlessHeaders, TooLong(),
          Ending::kHoldOpen)
          .Splits(),

      // Lengths.
      Row("two equal lengths", Ok200("Content-Length: 3\r\nContent-Length: 003\r\n\r\nabcdef"),
          Ok("abc"), Ending::kHoldOpen),
      Row("two equal lengths, cut short",
          Ok200("Content-Length: 3\r\nContent-Length: 003\r\n\r\nab"), Closed()),
      Row("a list of equal lengths", Ok200("Content-Length: 3, 3\r\n\r\nabcdef"), Ok("abc"),
          Ending::kHoldOpen)
          .Splits(),
      Row("a list of lengths that disagree", Ok200("Content-Length: 3, 4\r\n\r\nabcd"),
          BadLength()),
      Row("a list with an empty member", Ok200("Content-Length: 3,\r\n\r\nabcd"), BadLength()),
      Row("two lengths that disagree", Ok200("Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"),
          BadLength())
          .Splits(),
      Row("a length and one that is no number",
          Ok200("Content-Length: 3\r\nContent-Length: x\r\n\r\nabcd"), BadLength()),
      // A refused status is judged by its status line whatever its lengths say.
      Row("404 with lengths that disagree: read until close",
          "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
          Status(404, "HTTP/1.1 404 Not Found", "abcd")),
      Row("404 with a length that is no number: read until close",
          "HTTP/1.1 404 Not Found\r\nContent-Length: +3\r\n\r\nabcde",
          Status(404, "HTTP/1.1 404 Not Found", "abcde")),
      // Beyond the limit that every build shares, well within 64 bits.
      Row("10^12 Content-Length with a 10-byte body",
          Ok200("Content-Length: 1000000000000\r\n\r\n0123456789"), OutOfMemory())
          .Splits(),
      // A length that is not one number leaves no way to tell where the body ends.
      Row("Content-Length beyond 64 bits", Ok200("Content-Length: 18446744073709551616\r\n\r\nabc"),
          BadLength())
          .Splits(),
      Row("negative Content-Length", Ok200("Content-Length: -3\r\n\r\nabcde"), BadLength())
          .Splits(),
      Row("Content-Length with a plus sign", Ok200("Content-Length: +10\r\n\r\nabcde"), BadLength())
          .Splits(),
      Row("Content-Length not a number", Ok200("Content-Length: 0x10\r\n\r\nabcde"), BadLength())
          .Splits(),
      Row("Content-Length and a word", Ok200("Content-Length: 10 x\r\n\r\n0123456789"),
          BadLength()),
      Row("Content-Length empty", Ok200("Content-Length: \r\n\r\nabcde"), BadLength()),
      Row("Content-Length with a trailing letter", Ok200("Content-Length: 3a\r\n\r\nabcde"),
          BadLength()),
      Row("Transfer-Encoding and Content-Length: chunked wins",
          Ok200("Content-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"),
          Ok("abc"), Ending::kHoldOpen)
          .Splits(),

      // Chunks.
      Row("chunked with extensions and trailer",
          kChunked + "5;name=value\r\nhello\r\n6 ; x\r\n world\r\n0\r\nX-Trailer: 1\r\n\r\n",
          Ok("hello world")),
      Row("chunked in any case, hex sizes in any case",
          Ok200(
              "Transfer-Encoding: Chunked\r\n\r\na\r\n0123456789\r\nB\r\nabcdefghijk\r\n0\r\n\r\n"),
          Ok("0123456789abcdefghijk")),
      // The client asks for no transfer coding but chunked: any other one leaves bytes that are
      // not the file, dechunked or not, and a coding not last in the list leaves no framing.
      Row("gzip before chunked",
          Ok200("Transfer-Encoding: gzip, chunked\r\n\r\n4\r\n\x1f\x8b\x08\x00\r\n0\r\n\r\n"s),
          BadCoding(), Ending::kHoldOpen)
          .Splits(),
      Row("chunked before gzip",
          Ok200("Transfer-Encoding: chunked, gzip\r\n\r\n3\r\nabc\r\n0\r\n\r\n"), BadCoding()),
      Row("chunked twice",
          Ok200("Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n"
                "8\r\n3\r\nabc\r\n\r\n0\r\n\r\n"),
          BadCoding()),
      Row("a coding that only contains chunked",
          Ok200("Transfer-Encoding: xchunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"), BadCoding()),
      Row("gzip alone until close", Ok200("Transfer-Encoding: gzip\r\n\r\n\x1f\x8b\x08\x00"s),
          BadCoding()),
      Row("gzip alone beside a length",
          Ok200("Transfer-Encoding: gzip\r\nContent-Length: 2\r\n\r\n\x1f\x8b\x08\x00"s),
          BadCoding()),
      Row("identity and empty members are no coding",
          Ok200("Transfer-Encoding: identity, ,chunked\r\nContent-Length: "
                "1\r\n\r\n3\r\nabc\r\n0\r\n\r\n"),
          Ok("abc"), Ending::kHoldOpen),
      Row("404 with gzip before chunked: its chunks still end it",
          "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
          Status(404, "HTTP/1.1 404 Not Found", "abc"), Ending::kHoldOpen),
      Row("404 with gzip alone runs to the close",
          "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: gzip\r\nContent-Length: 1\r\n\r\nabc",
          Status(404, "HTTP/1.1 404 Not Found", "abc")),
      // A size line that is no number cannot end the body: that would save a truncated file.
      Row("chunk size not a number", kChunked + "2\r\nab\r\nzz\r\n\r\n", Closed()),
      Row("chunk size and a word", kChunked + "2 x\r\nab\r\n0\r\n\r\n", Closed()),
      Row("chunk extension without its ;", kChunked + "2 ext\r\nab\r\n0\r\n\r\n", Closed()),
      Row("chunk size line empty", kChunked + "2\r\nab\r\n\r\n0\r\n\r\n", Closed()),
      Row("chunk sizes with blanks around them",
          kChunked + " 2 \r\nab\r\n\t1\t;x\r\nc\r\n 0 \r\n\r\n", Ok("abc")),
      Row("a failure's chunk size not a number ends its body",
          "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nzz\r\n\r\n",
          Status(404, "HTTP/1.1 404 Not Found", "ab")),
      Row("chunk size with leading zeros", kChunked + "00000000000000000003\r\nabc\r\n0\r\n\r\n",
          Ok("abc")),
      Row("17-digit chunk size", kChunked + "10000000000000000\r\nabc", OutOfMemory(),
          Ending::kHoldOpen)
          .Splits(),
      Row("16-digit chunk size beyond any limit", kChunked + "FFFFFFFFFFFFFFFF\r\nabc",
          OutOfMemory(), Ending::kHoldOpen)
          .Splits(),
      // A chunk's data ends its line: a size that is wrong either way would drop bytes or take
      // the framing into the file.
      Row("chunk data longer than declared", kChunked + "5\r\nhelloEXTRA\r\n3\r\nabc\r\n0\r\n\r\n",
          Closed(), Ending::kHoldOpen)
          .Splits(),
      Row("chunk size too small", kChunked + "3\r\nhelloWORLD\r\n0\r\n\r\n", Closed(),
          Ending::kHoldOpen)
          .Splits(),
      Row("chunk size too large takes the framing", kChunked + "a\r\nhello\r\n1\r\nX\r\n0\r\n\r\n",
          Closed(), Ending::kHoldOpen)
          .Splits(),
      Row("chunk data ended by a bare LF", kChunked + "2\r\nab\n1\r\nc\n0\r\n\r\n", Ok("abc")),

      // Bodies against a lowered memory limit.
      Row("length at the limit", Ok200("Content-Length: 10\r\n\r\n0123456789"), Ok("0123456789"))
          .BodyLimit(10),
      Row("length past the limit", Ok200("Content-Length: 11\r\n\r\n"), OutOfMemory())
          .BodyLimit(10),
      Row("until close at the limit", Ok200("\r\n" + std::string(20, 'b')),
          Ok(std::string(20, 'b')))
          .BodyLimit(20)
          .Splits(),
      Row("until close past the limit", Ok200("\r\n" + std::string(21, 'b')), OutOfMemory())
          .BodyLimit(20)
          .Splits(),
      Row("chunks at the limit", kChunked + "5\r\n01234\r\n5\r\n56789\r\n0\r\n\r\n",
          Ok("0123456789"))
          .BodyLimit(10),
      Row("chunks past the limit", kChunked + Repeat("7\r\nchunky!\r\n", 3) + "0\r\n\r\n",
          OutOfMemory(), Ending::kHoldOpen)
          .BodyLimit(20)
          .Splits(),
      Row("failure body past the limit", "HTTP/1.1 404 Not Found\r\n\r\n" + std::string(100, 'n'),
          OutOfMemory(), Ending::kHoldOpen)
          .BodyLimit(20)
          .Splits(),

      // Silence.
      Row("silent server", "", TimedOut(), Ending::kHoldOpen).TimeOut(300).Splits(),
      Row("silent after the headers", Ok200("Content-Length: 5\r\n\r\n"), TimedOut(),
          Ending::kHoldOpen)
          .TimeOut(300)
          .Splits(),
      Row("silent inside the body", Ok200("Content-Length: 10\r\n\r\nabc"), TimedOut(),
          Ending::kHoldOpen)
          .TimeOut(300),
  };
}

bool ReadsFromMemory(const HttpCase& row) {
  return row.ending != Ending::kReset && row.expected.kind != "EIdReadTimeout";
}

HttpOutcome AtTheFetch(const HttpOutcome& expected) {
  HttpOutcome seen = expected;
  if (seen.kind.empty()) {
    seen.number = 0;
  } else {
    seen.body.clear();
  }
  seen.callerBytes = 0;
  return seen;
}

ServerScript WholeScript(const HttpCase& row) {
  ServerScript script;
  if (row.piece == 0) {
    script.Send(row.response);
  } else {
    script.SendInPieces(row.response, row.piece, row.pauseMs);
  }
  return script.EndWith(row.ending);
}

ServerScript BytewiseScript(const HttpCase& row) {
  ServerScript script;
  const std::string& bytes = row.response;
  const size_t from = std::min(row.bytewiseFrom, bytes.size());
  const size_t count = std::min(kBytewiseBytes, bytes.size() - from);
  if (from > 0) script.Send(bytes.substr(0, from));
  script.SendInPieces(bytes.substr(from, count), 1, 1);
  if (from + count < bytes.size()) script.Send(bytes.substr(from + count));
  return script.EndWith(row.ending);
}

ServerScript RandomSplitScript(const HttpCase& row, unsigned seed) {
  ServerScript script;
  const std::string& bytes = row.response;
  std::mt19937 random(seed);
  // About two dozen pieces per row, whatever its size.
  const size_t largest = std::max<size_t>(4, bytes.size() / 12);
  std::uniform_int_distribution<size_t> pieceSize(1, largest);
  std::uniform_int_distribution<int> delayMs(0, 1);
  for (size_t at = 0; at < bytes.size();) {
    const size_t n = std::min(pieceSize(random), bytes.size() - at);
    script.steps.push_back({bytes.substr(at, n), delayMs(random)});
    at += n;
  }
  return script.EndWith(row.ending);
}

bool ExpectFetchOutcome(const HttpCase& row, const ServerScript& script, bool seedOlderFile) {
  SCOPED_TRACE(seedOlderFile ? "an older file in the folder" : "an empty folder");
  ScriptedServer server;
  server.AddScript(script);
  TempDir dir;
  const std::u16string target = dir.File(u"download.bin");
  if (seedOlderFile) WriteFileBytes(target, kOlderFile);
  net::FetchOptions options;
  options.readTimeoutMs = row.readTimeoutMs;
  options.maxBodyBytes = row.maxBodyBytes;
  const auto start = Clock::now();
  const HttpOutcome got = FetchToOutcome(server.BaseUrl() + "setup.exe", target, options);
  const auto took = Clock::now() - start;

  HttpOutcome expected = AtTheFetch(row.expected);
  const bool resetAsClose =
      row.ending == Ending::kReset && MayReportResetsAsCloses() && got == AtTheFetch(Closed());
  if (resetAsClose) expected = got;
  EXPECT_EQ(expected, got);
  const bool saved = expected.kind.empty();
  const std::vector<std::string> names = NamesIn(dir.Path());
  if (saved || seedOlderFile) {
    EXPECT_EQ(std::vector<std::string>{"download.bin"}, names);
  } else {
    EXPECT_EQ(std::vector<std::string>{}, names);
  }
  if (!saved && seedOlderFile) {
    EXPECT_EQ(kOlderFile, ReadFileBytes(target));
  }
  // Byte-at-a-time feeds take about a millisecond a byte; nothing waits for a held-open server.
  EXPECT_LT(took, std::chrono::seconds(10));
  if (expected.kind == "EIdReadTimeout") {
    // Silence ends the download after one time-out, not later.
    EXPECT_GE(took, std::chrono::milliseconds(row.readTimeoutMs - 50));
    EXPECT_LT(took, std::chrono::milliseconds(row.readTimeoutMs + 2000));
  }
  return !resetAsClose;
}

}  // namespace vanto::test
