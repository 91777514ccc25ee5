// The response reader against arbitrary bytes from a server, read whole and in random splits:
// both must end alike, with the same body or the same error, and never with more body than input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <utility>

#include "net/byte_source.h"
#include "net/errors.h"
#include "net/line_reader.h"
#include "net/response_reader.h"

namespace {

using vanto::net::ByteSource;

class StringSink : public vanto::net::BodySink {
 public:
  void Write(std::span<const char> bytes) override { bytes_.append(bytes.data(), bytes.size()); }
  std::string bytes_;
};

// Serves the input in pieces of random length (1 to 64 bytes), as a slow network would.
class SplitSource : public ByteSource {
 public:
  SplitSource(const char* data, size_t size, unsigned seed)
      : data_(data), size_(size), random_(seed) {}
  size_t Read(char* buffer, size_t capacity) override {
    std::uniform_int_distribution<size_t> piece(1, 64);
    size_t n = std::min({capacity, piece(random_), size_ - at_});
    std::copy(data_ + at_, data_ + at_ + n, buffer);
    at_ += n;
    return n;
  }

 private:
  const char* data_;
  size_t size_;
  std::minstd_rand random_;
  size_t at_ = 0;
};

struct Outcome {
  bool failed = false;
  std::string kind;
  std::u16string message;
  std::string body;
};

Outcome Read(ByteSource& source, size_t inputSize) {
  vanto::net::LineReader reader(source);
  StringSink body;
  vanto::net::ResponseLimits limits;
  limits.maxBodyBytes = 1 << 20;
  limits.redirectBodyWaitMs = 0;
  Outcome outcome;
  try {
    vanto::net::ReadResponse(reader, body, limits);
  } catch (const vanto::Error& error) {
    outcome.failed = true;
    outcome.kind = std::string(error.Kind());
    outcome.message = error.Message();
    return outcome;
  }
  if (body.bytes_.size() > inputSize) std::abort();
  outcome.body = std::move(body.bytes_);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  vanto::net::MemorySource whole(bytes, size);
  const Outcome expected = Read(whole, size);
  SplitSource split(bytes, size, static_cast<unsigned>(size));
  const Outcome got = Read(split, size);
  if (got.failed != expected.failed || got.kind != expected.kind ||
      got.message != expected.message || got.body != expected.body) {
    std::abort();
  }
  return 0;
}
