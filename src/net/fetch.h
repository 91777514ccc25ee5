// FetchToFile: one HTTP GET of a URL into memory, then the whole body into a file.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "net/body_buffer.h"
#include "net/response_reader.h"

namespace vanto::net {

struct Response;

struct FetchOptions {
  // A read that waits longer than this without a byte fails with EIdReadTimeout.
  int readTimeoutMs = 60000;
  // The most body bytes held in memory; past it the fetch fails with EOutOfMemory.
  std::uint64_t maxBodyBytes = kMaxBodyBytes;
  // Runs on the complete body before anything is saved; a check refuses the body by throwing.
  std::function<void(const BodyBuffer&)> checkBody;
  // Sees the status line and headers of a successful response, before its body is checked; for
  // tools that report what the server said.
  std::function<void(const Response&)> onResponse;
};

// Raises one of the kinds of net/errors.h on failure; the file at `path` is then left as it was.
void FetchToFile(const std::u16string& url, const std::u16string& path,
                 const FetchOptions& options = {});

}  // namespace vanto::net
