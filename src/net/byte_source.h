// Where a response comes from: a connection, or memory in tests and fuzzing.
#pragma once

#include <cstddef>
#include <optional>

namespace vanto::net {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Waits for at least one byte and reads at most `capacity`; 0 means the peer closed in an
  // orderly way. Failures and time-outs are raised as the error kinds.
  virtual size_t Read(char* buffer, size_t capacity) = 0;
  // Like Read, but gives up quietly (nullopt) when nothing arrives within `timeoutMs`.
  virtual std::optional<size_t> ReadWithin(char* buffer, size_t capacity, int timeoutMs) {
    (void)timeoutMs;
    return Read(buffer, capacity);
  }
};

// Serves a fixed text in reads of at most `piece` bytes, then an orderly close.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(const char* data, size_t size, size_t piece = static_cast<size_t>(-1))
      : data_(data), size_(size), piece_(piece == 0 ? 1 : piece) {}
  size_t Read(char* buffer, size_t capacity) override;

 private:
  const char* data_;
  size_t size_;
  size_t piece_;
  size_t at_ = 0;
};

}  // namespace vanto::net
