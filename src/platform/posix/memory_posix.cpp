// Large blocks on Linux are aligned to and backed by huge pages where the system allows it, as a
// fault for every 4 KiB page costs more than the receive that fills it.
#include <sys/mman.h>

#include <new>

#include "platform/memory.h"

namespace vanto::platform {
namespace {

constexpr size_t kHugePage = 2 * 1024 * 1024;

}  // namespace

void LargeBlockDeleter::operator()(char* block) const noexcept {
  if (aligned) {
    ::operator delete[](block, std::align_val_t{kHugePage});
  } else {
    delete[] block;
  }
}

LargeBlock AllocateLargeBlock(size_t size) {
  if (size < kHugePage) return LargeBlock(new char[size]);
  char* block = static_cast<char*>(::operator new[](size, std::align_val_t{kHugePage}));
  // Only advice: without huge pages the block still works, page by page.
  madvise(block, size - size % kHugePage, MADV_HUGEPAGE);
  return LargeBlock(block, LargeBlockDeleter{true});
}

}  // namespace vanto::platform
