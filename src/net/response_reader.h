// Reading one HTTP/1.1 response: status line, headers, interim 100 responses, and the body by
// chunks, by Content-Length or up to the close. Works on any ByteSource.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/body_sink.h"
#include "net/line_reader.h"

namespace vanto::net {

// The most body bytes a server can make the client take, the same in every build, so that one
// response gives one result whichever build reads it: what a 32-bit program can count in a signed
// 32-bit size, and far past any installer.
inline constexpr std::uint64_t kMaxBodyBytes = 0x7FFF'FFFF;

struct ResponseLimits {
  std::uint64_t maxBodyBytes = kMaxBodyBytes;
  // Status and header lines of one response, terminators included.
  size_t maxHeadBytes = 256 * 1024;
  // "100 Continue" responses skipped before a final one.
  int maxInterimResponses = 8;
  // How long a redirection's body is waited for before it is skipped.
  int redirectBodyWaitMs = 5000;
};

struct Response {
  std::u16string statusLine;  // as received, bytes above 0x7F as "?"
  int statusCode = -1;
  // Names and values trimmed, bytes above 0x7F as "?"; trailers of a chunked body at the end.
  std::vector<std::pair<std::string, std::string>> headers;
  // The server closed before the empty line that ends the headers.
  bool headCutShort = false;
};

// The text between the first and the second space (or the end), when it is all digits; else -1.
int StatusCodeOf(std::string_view statusLine);

// Reads the final response and, for a 2xx, hands its body to `body` as it arrives (Begin once the
// head is judged a success, before any body byte). Any other status raises
// EIdHTTPProtocolException with the status line, after reading its body (its start kept in the
// error).
Response ReadResponse(LineReader& reader, BodySink& body, const ResponseLimits& limits);

}  // namespace vanto::net
