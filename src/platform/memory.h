// Memory for the large blocks a download is received into: written once, front to back, and
// touched page by page as the data arrives.
#pragma once

#include <cstddef>
#include <memory>

namespace vanto::platform {

struct LargeBlockDeleter {
  void operator()(char* block) const noexcept;
  bool aligned = false;  // allocated with the platform's large alignment
};
using LargeBlock = std::unique_ptr<char[], LargeBlockDeleter>;

// Uninitialised memory of `size` bytes; raises std::bad_alloc when there is none.
LargeBlock AllocateLargeBlock(size_t size);

}  // namespace vanto::platform
