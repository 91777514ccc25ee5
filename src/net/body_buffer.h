// A body held in memory as it comes off the wire, in blocks so that it never needs one contiguous
// allocation or a copy of itself while it grows: the body of a failed status, kept in its error,
// and the sink of tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "net/body_sink.h"

namespace vanto::net {

class BodyBuffer : public BodySink {
 public:
  std::uint64_t Size() const noexcept { return size_; }
  bool Empty() const noexcept { return size_ == 0; }
  // The bytes allocated, used or not.
  std::uint64_t Capacity() const noexcept;
  void Append(const char* data, size_t size);
  void Write(std::span<const char> bytes) override { Append(bytes.data(), bytes.size()); }
  // The bytes in order, block by block.
  std::vector<std::span<const char>> Blocks() const;
  void Clear();

 private:
  // Free room at the end, at most `wanted` bytes; a new block is allocated only when the last one
  // is full. Commit then adds what was written there.
  std::span<char> Room(size_t wanted);
  void Commit(size_t size);

  struct Block {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
    size_t used = 0;
  };
  // Blocks grow with the data (each as large as all before it), from kFirstBlock up to kMaxBlock,
  // so a lying length never makes the buffer reserve much more than has arrived.
  static constexpr size_t kFirstBlock = 64 * 1024;
  static constexpr size_t kMaxBlock = 16 * 1024 * 1024;
  std::vector<Block> blocks_;
  std::uint64_t size_ = 0;
};

}  // namespace vanto::net
