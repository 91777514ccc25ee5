// The one place where the tests call the download code: each call ends in an outcome (the error's
// kind and text, or what was read or saved), which a table of cases compares whole. A change of
// the download's interface is met here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "net/fetch.h"
#include "net/response_reader.h"

namespace vanto::test {

struct HttpOutcome {
  std::string kind;     // the error's kind; empty on success
  std::string message;  // the error's text; empty on success
  int number = 0;       // the status code (of a success too, where it is seen) or socket error
  std::string body;     // the body read or saved; for a failed status, the body the error holds
  // Bytes a failed status left in the caller's buffer, which must stay empty.
  std::uint64_t callerBytes = 0;

  bool operator==(const HttpOutcome&) const = default;
};

// Shows long bodies by their start and size.
void PrintTo(const HttpOutcome& outcome, std::ostream* out);

// Reads `raw` as one response from memory, in reads of at most `piece` bytes.
HttpOutcome ReadResponseInPieces(const std::string& raw, size_t piece,
                                 const net::ResponseLimits& limits = {});
inline HttpOutcome ReadResponseWhole(const std::string& raw,
                                     const net::ResponseLimits& limits = {}) {
  return ReadResponseInPieces(raw, raw.size() + 1, limits);
}
inline HttpOutcome ReadResponseByteByByte(const std::string& raw,
                                          const net::ResponseLimits& limits = {}) {
  return ReadResponseInPieces(raw, 1, limits);
}

// Fetches `url` into `path`. A success's status code is not seen at this layer: `number` stays 0
// and `body` holds the saved file's bytes; a failed status's body is not seen either.
HttpOutcome FetchToOutcome(const std::u16string& url, const std::u16string& path,
                           const net::FetchOptions& options = {});
HttpOutcome FetchToOutcome(const std::string& url, const std::u16string& path,
                           const net::FetchOptions& options = {});

}  // namespace vanto::test
