// FetchToFile: one HTTP GET of a URL, its body written beside the file as it arrives and put in
// the file's place once it is complete and accepted.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "net/body_sink.h"
#include "net/response_reader.h"

namespace vanto::net {

struct Response;

struct FetchOptions {
  // A read that waits longer than this without a byte fails with EIdReadTimeout.
  int readTimeoutMs = 60000;
  // The most body bytes taken; past it the fetch fails with EOutOfMemory.
  std::uint64_t maxBodyBytes = kMaxBodyBytes;
  // Each download gets a new check of each kind, in this order; they see the body as it arrives
  // and decide before it takes the target's place (a check refuses it by throwing).
  std::vector<BodyCheckFactory> bodyChecks;
  // Sees the status line and headers of a successful response, before its body is checked; for
  // tools that report what the server said.
  std::function<void(const Response&)> onResponse;
  // Called once the head is judged a success, just before the file is made: for tools that tell
  // a failure of the head from one of the body.
  std::function<void()> onBodyBegins;
};

// Raises one of the kinds of net/errors.h on failure; the file at `path` is then left as it was,
// and nothing else is left beside it.
void FetchToFile(const std::u16string& url, const std::u16string& path,
                 const FetchOptions& options = {});

}  // namespace vanto::net
