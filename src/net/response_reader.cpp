#include "net/response_reader.h"

#include <cstdint>
#include <optional>
#include <span>

#include "net/ascii.h"
#include "net/errors.h"

namespace vanto::net {
namespace {

[[noreturn]] void ThrowClosed() {
  throw EIdConnClosedGracefully(u"Connection Closed Gracefully.");
}
[[noreturn]] void ThrowTooLong() {
  throw EIdReadLnMaxLineLengthExceeded(u"Max line length exceeded.");
}
[[noreturn]] void ThrowBadLength() {
  throw EIdInvalidContentLength(u"Invalid Content-Length.");
}
[[noreturn]] void ThrowBadCoding() {
  throw EIdUnsupportedTransferEncoding(u"Unsupported Transfer-Encoding.");
}
[[noreturn]] void ThrowOutOfMemory() {
  throw EOutOfMemory(u"Out of memory");
}

std::string ReadableAscii(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) > 0x7F) c = '?';
  }
  return out;
}

// Reads lines while keeping the whole head of a response within its budget.
class HeadReader {
 public:
  HeadReader(LineReader& reader, size_t budget) : reader_(reader), budget_(budget) {}
  bool ReadLine(std::string& line) {
    const bool complete = reader_.ReadLine(line, used_);
    if (used_ > budget_) ThrowTooLong();
    return complete;
  }

 private:
  LineReader& reader_;
  size_t budget_;
  size_t used_ = 0;
};

// Adds the header lines of one block (the head, or the trailers) to the response. A line that
// starts with a blank continues the header line before it (obs-fold), as the server means it: read
// as a header of its own, it could announce a length the server never framed the body by.
class HeaderBlock {
 public:
  explicit HeaderBlock(Response& response) : response_(response) {}
  void Add(std::string_view line) {
    if (line.front() == ' ' || line.front() == '\t') {
      // Nothing to continue before the first header, or after a line that was none.
      if (continues_) {
        std::string& value = response_.headers.back().second;
        value += ' ';
        value += ReadableAscii(TrimBlanks(line));
      }
      return;
    }
    const size_t colon = line.find(':');
    continues_ = colon != std::string_view::npos;
    if (!continues_) return;
    response_.headers.emplace_back(ReadableAscii(TrimBlanks(line.substr(0, colon))),
                                   ReadableAscii(TrimBlanks(line.substr(colon + 1))));
  }

 private:
  Response& response_;
  bool continues_ = false;
};

// Header lines up to the empty one. A close ends them; a partial line before it is not used.
void ReadHeaders(HeadReader& head, Response& response) {
  HeaderBlock block(response);
  std::string line;
  for (;;) {
    if (!head.ReadLine(line)) {
      response.headCutShort = true;
      return;
    }
    if (line.empty()) return;
    block.Add(line);
  }
}

Response ReadHead(LineReader& reader, const ResponseLimits& limits) {
  HeadReader head(reader, limits.maxHeadBytes);
  Response response;
  std::string line;
  if (!head.ReadLine(line)) ThrowClosed();
  response.statusLine = FromWireAscii(line);
  response.statusCode = StatusCodeOf(line);
  ReadHeaders(head, response);
  return response;
}

// Decimal digits only and within 64 bits; anything else is no usable length.
std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// A header value may list the same length several times ("10, 10"); it is then that one length.
std::optional<std::uint64_t> ParseContentLength(std::string_view text) {
  std::optional<std::uint64_t> length;
  for (;;) {
    const size_t comma = text.find(',');
    const std::optional<std::uint64_t> member = ParseDecimal(text.substr(0, comma));
    if (!member || (length && *length != *member)) return std::nullopt;
    length = member;
    if (comma == std::string_view::npos) return length;
    text.remove_prefix(comma + 1);
  }
}

// The transfer codings of every Transfer-Encoding line, in the order they were applied, in lower
// case; "identity" and empty members are no coding.
std::vector<std::string> TransferCodings(const Response& response) {
  std::vector<std::string> codings;
  for (const auto& [name, value] : response.headers) {
    if (LowerAscii(name) != "transfer-encoding") continue;
    std::string_view list = value;
    for (;;) {
      const size_t comma = list.find(',');
      const std::string coding = LowerAscii(TrimBlanks(list.substr(0, comma)));
      if (!coding.empty() && coding != "identity") codings.push_back(coding);
      if (comma == std::string_view::npos) break;
      list.remove_prefix(comma + 1);
    }
  }
  return codings;
}

struct Framing {
  bool chunked = false;
  std::optional<std::uint64_t> contentLength;
  // A Content-Length that is not one valid number: for a download there is no telling where the
  // body ends.
  bool badLength = false;
  // A transfer coding besides one chunked, which the client never asks for: the bytes, dechunked
  // or not, are not the file, and where chunked is not last only the close ends them.
  bool badCoding = false;
};

Framing FramingOf(const Response& response) {
  Framing framing;
  const std::vector<std::string> codings = TransferCodings(response);
  if (!codings.empty()) {
    // A Content-Length beside a transfer coding does not frame the body.
    framing.chunked = codings.back() == "chunked";
    framing.badCoding = codings.size() > 1 || !framing.chunked;
    return framing;
  }
  bool seenLength = false;
  for (const auto& [name, value] : response.headers) {
    if (LowerAscii(name) != "content-length") continue;
    const std::optional<std::uint64_t> length = ParseContentLength(value);
    if (!length || (seenLength && length != framing.contentLength)) {
      framing.badLength = true;
      framing.contentLength.reset();
      return framing;
    }
    framing.contentLength = length;
    seenLength = true;
  }
  return framing;
}

class BodyReader {
 public:
  BodyReader(LineReader& reader, BodySink& body, const ResponseLimits& limits, bool truncationFails)
      : reader_(reader), body_(body), limits_(limits), truncationFails_(truncationFails) {}

  // Hands on up to `count` bytes; returns how many came before the close.
  std::uint64_t ReadBytes(std::uint64_t count) {
    std::uint64_t got = 0;
    while (got < count) {
      const std::span<const char> bytes = reader_.NextBytes(SizeOf(count - got));
      if (bytes.empty()) break;
      Take(bytes);
      got += bytes.size();
    }
    return got;
  }

  void ReadUntilClose() {
    for (;;) {
      if (taken_ >= limits_.maxBodyBytes) {
        // Only a close may follow now.
        if (reader_.NextBytes(1).empty()) return;
        ThrowOutOfMemory();
      }
      const std::span<const char> bytes = reader_.NextBytes(SizeOf(limits_.maxBodyBytes - taken_));
      if (bytes.empty()) return;
      Take(bytes);
    }
  }

  void ReadChunked(HeadReader& trailers, Response& response) {
    std::string line;
    size_t ignored = 0;
    for (;;) {
      if (!reader_.ReadLine(line, ignored)) ThrowClosed();
      const std::optional<std::uint64_t> size = ChunkSize(line);
      // A size line that is no number leaves no way to tell where the body ends: for a download
      // that is a truncated file, refused like a body cut short.
      if (!size && truncationFails_) ThrowClosed();
      if (!size || *size == 0) break;
      if (*size > limits_.maxBodyBytes - taken_) ThrowOutOfMemory();
      if (ReadBytes(*size) < *size) ThrowClosed();
      if (!reader_.ReadLine(line, ignored)) ThrowClosed();
      // Bytes before the line end mean the size was wrong: data dropped or framing taken in.
      if (!line.empty() && truncationFails_) ThrowClosed();
    }
    // A close inside the trailer is as much a cut-off body as one inside the chunks.
    HeaderBlock block(response);
    for (;;) {
      if (!trailers.ReadLine(line)) ThrowClosed();
      if (line.empty()) break;
      block.Add(line);
    }
  }

 private:
  static size_t SizeOf(std::uint64_t count) {
    return count < SIZE_MAX ? static_cast<size_t>(count) : SIZE_MAX;
  }

  void Take(std::span<const char> bytes) {
    body_.Write(bytes);
    taken_ += bytes.size();
  }

  // The hex number before any ";" extension, blanks around it allowed; nothing when the line is
  // not one. A number beyond 64 bits could never be held.
  static std::optional<std::uint64_t> ChunkSize(std::string_view line) {
    line = TrimBlanks(line.substr(0, line.find(';')));
    if (line.empty()) return std::nullopt;
    for (char c : line) {
      if (HexDigit(c) < 0) return std::nullopt;
    }
    while (!line.empty() && line.front() == '0') line.remove_prefix(1);
    if (line.size() > 16) ThrowOutOfMemory();
    std::uint64_t value = 0;
    for (char c : line) value = value * 16 + static_cast<std::uint64_t>(HexDigit(c));
    return value;
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  LineReader& reader_;
  BodySink& body_;
  const ResponseLimits& limits_;
  const bool truncationFails_;
  std::uint64_t taken_ = 0;
};

// Reads the body the head announces, after everything that can be judged from the head alone:
// nothing is begun for a response that fails there. For a body that is only kept in an error, a
// Content-Length cut short by the close (or a size line that is no number) simply ends it; for a
// download it is a truncated file and fails.
void ReadBody(LineReader& reader, Response& response, BodySink& body, const ResponseLimits& limits,
              bool truncationFails) {
  const Framing framing = FramingOf(response);
  // A refused status's body, which nobody reads, just runs to the close then.
  if (framing.badCoding && truncationFails) ThrowBadCoding();
  if (framing.badLength && truncationFails) ThrowBadLength();
  if (!framing.chunked && framing.contentLength && *framing.contentLength > limits.maxBodyBytes) {
    ThrowOutOfMemory();
  }
  body.Begin();
  BodyReader bodyReader(reader, body, limits, truncationFails);
  if (framing.chunked) {
    HeadReader trailers(reader, limits.maxHeadBytes);
    bodyReader.ReadChunked(trailers, response);
  } else if (!framing.contentLength) {
    bodyReader.ReadUntilClose();
  } else if (*framing.contentLength > 0) {
    if (bodyReader.ReadBytes(*framing.contentLength) < *framing.contentLength && truncationFails) {
      ThrowClosed();
    }
  }
}

// A refused status's body is read to its end through the receive buffer, only so that the
// connection is left at a known place; no more than its start is kept, so that a large error page
// costs no memory.
class FailureBody : public BodySink {
 public:
  static constexpr size_t kKeptBytes = 4096;
  void Write(std::span<const char> bytes) override {
    const size_t room = kKeptBytes - kept_.size();
    kept_.append(bytes.data(), bytes.size() < room ? bytes.size() : room);
  }
  std::string Take() { return std::move(kept_); }

 private:
  std::string kept_;
};

}  // namespace

int StatusCodeOf(std::string_view statusLine) {
  const size_t first = statusLine.find(' ');
  if (first == std::string_view::npos) return -1;
  std::string_view code = statusLine.substr(first + 1);
  code = code.substr(0, code.find(' '));
  if (code.empty() || code.size() > 9) return -1;
  int value = 0;
  for (char c : code) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

Response ReadResponse(LineReader& reader, BodySink& body, const ResponseLimits& limits) {
  Response response = ReadHead(reader, limits);
  for (int interim = 0; response.statusCode == 100; ++interim) {
    if (interim >= limits.maxInterimResponses) ThrowTooLong();
    response = ReadHead(reader, limits);
  }
  const int code = response.statusCode;
  if (code >= 200 && code <= 299) {
    // Headers cut off by the close leave no body to read; saving an empty file in place of the
    // download would hide a broken transfer.
    if (response.headCutShort && code != 204) ThrowClosed();
    if (code == 204) {
      body.Begin();
      return response;
    }
    ReadBody(reader, response, body, limits, true);
    return response;
  }

  FailureBody failureBody;
  const bool bodyless = code == 304 || (code >= 100 && code <= 199);
  if (code >= 300 && code <= 399 && !bodyless) {
    const Framing framing = FramingOf(response);
    const bool emptyAnnounced =
        !framing.chunked && framing.contentLength && *framing.contentLength == 0;
    if (!emptyAnnounced && reader.WaitForData(limits.redirectBodyWaitMs)) {
      ReadBody(reader, response, failureBody, limits, false);
    }
  } else if (!bodyless) {
    ReadBody(reader, response, failureBody, limits, false);
  }
  throw EIdHTTPProtocolException(code, response.statusLine, failureBody.Take());
}

}  // namespace vanto::net
