// Ownership of the file handle is the same on every platform; only Close differs.
#include "platform/file.h"

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

}  // namespace vanto::platform
