// The body of a response as it comes off the wire, held in blocks so that a large download never
// needs one contiguous allocation or a copy of itself while it grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vanto::net {

class BodyBuffer {
 public:
  std::uint64_t Size() const noexcept { return size_; }
  bool Empty() const noexcept { return size_ == 0; }
  // The bytes allocated, used or not.
  std::uint64_t Capacity() const noexcept;
  void Append(const char* data, size_t size);
  // Free room at the end, at most `wanted` bytes, for reading straight into the buffer; a new
  // block is allocated only when the last one is full. Commit then adds what was written there.
  std::span<char> Room(size_t wanted);
  void Commit(size_t size);
  // The bytes in order, block by block.
  std::vector<std::span<const char>> Blocks() const;
  void Clear();

 private:
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
