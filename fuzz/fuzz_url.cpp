// URL splitting and the request built from it: whatever the registry or the information file
// holds, the request must stay five header lines of printable ASCII and nothing else.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/errors.h"
#include "net/request.h"
#include "net/url.h"

namespace {

void CheckLine(const std::string& line) {
  for (char c : line) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7E) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two bytes make one UTF-16 unit, so surrogates and every control character come up.
  std::u16string url;
  for (size_t i = 0; i + 1 < size; i += 2) {
    url += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  vanto::net::ParsedUrl parsed;
  try {
    parsed = vanto::net::SplitUrl(url);
  } catch (const vanto::Error&) {
    return 0;
  }
  const std::string request = vanto::net::BuildRequest(parsed);
  if (request.size() < 4 || request.compare(request.size() - 4, 4, "\r\n\r\n") != 0) std::abort();
  size_t lines = 0;
  size_t at = 0;
  for (;;) {
    const size_t end = request.find("\r\n", at);
    if (end == at) break;  // the empty line that ends the request
    const std::string line = request.substr(at, end - at);
    CheckLine(line);
    if (lines == 0) {
      // "GET", the target, the protocol: exactly two spaces.
      size_t spaces = 0;
      for (char c : line) spaces += c == ' ';
      if (spaces != 2 || line.rfind("GET /", 0) != 0) std::abort();
    }
    ++lines;
    at = end + 2;
  }
  if (lines != 5 || at + 2 != request.size()) std::abort();
  return 0;
}
