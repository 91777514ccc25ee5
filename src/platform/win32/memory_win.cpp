// Large blocks on Windows come from the ordinary heap: huge pages there need a privilege that a
// user's program does not hold.
#include "platform/memory.h"

namespace vanto::platform {

void LargeBlockDeleter::operator()(char* block) const noexcept {
  delete[] block;
}

LargeBlock AllocateLargeBlock(size_t size) {
  return LargeBlock(new char[size]);
}

}  // namespace vanto::platform
