#include "net/body_buffer.h"

#include <algorithm>
#include <cstring>

namespace vanto::net {

std::span<char> BodyBuffer::Room(size_t wanted) {
  if (blocks_.empty() || blocks_.back().used == blocks_.back().capacity) {
    size_t capacity = kFirstBlock;
    if (!blocks_.empty())
      // Compared in 64 bits: a size past 4 GiB cast first would wrap on a 32-bit build.
      capacity = static_cast<size_t>(
          std::min<std::uint64_t>(kMaxBlock, std::max<std::uint64_t>(size_, kFirstBlock)));
    Block block;
    block.data = std::make_unique_for_overwrite<char[]>(capacity);
    block.capacity = capacity;
    blocks_.push_back(std::move(block));
  }
  Block& last = blocks_.back();
  return {last.data.get() + last.used, std::min(wanted, last.capacity - last.used)};
}

void BodyBuffer::Commit(size_t size) {
  blocks_.back().used += size;
  size_ += size;
}

void BodyBuffer::Append(const char* data, size_t size) {
  while (size > 0) {
    std::span<char> room = Room(size);
    std::memcpy(room.data(), data, room.size());
    Commit(room.size());
    data += room.size();
    size -= room.size();
  }
}

std::vector<std::span<const char>> BodyBuffer::Blocks() const {
  std::vector<std::span<const char>> spans;
  spans.reserve(blocks_.size());
  for (const Block& block : blocks_) {
    if (block.used > 0) spans.emplace_back(block.data.get(), block.used);
  }
  return spans;
}

std::uint64_t BodyBuffer::Capacity() const noexcept {
  std::uint64_t capacity = 0;
  for (const Block& block : blocks_) capacity += block.capacity;
  return capacity;
}

void BodyBuffer::Clear() {
  blocks_.clear();
  size_ = 0;
}

}  // namespace vanto::net
