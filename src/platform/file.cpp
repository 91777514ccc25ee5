// Ownership of the file handle is the same on every platform; only Close differs.
#include "platform/file.h"

#include <utility>

namespace vanto::platform {

OutputFile::~OutputFile() {
  Close();
}

OutputFile::OutputFile(OutputFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

StagingFile::StagingFile(StagingFile&& other) noexcept
    : file_(std::move(other.file_)),
      name_(std::exchange(other.name_, {})),
      folder_(std::move(other.folder_)),
      device_(other.device_),
      inode_(other.inode_) {}

StagingFile& StagingFile::operator=(StagingFile&& other) noexcept {
  if (this != &other) {
    Discard();
    file_ = std::move(other.file_);
    name_ = std::exchange(other.name_, {});
    folder_ = std::move(other.folder_);
    device_ = other.device_;
    inode_ = other.inode_;
  }
  return *this;
}

}  // namespace vanto::platform
