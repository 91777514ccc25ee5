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
  void Append(const char* data, size_t size);
  // The bytes in order, block by block.
  std::vector<std::span<const char>> Blocks() const;
  void Clear();

 private:
  struct Block {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
    size_t used = 0;
  };
  std::vector<Block> blocks_;
  std::uint64_t size_ = 0;
};

}  // namespace vanto::net
