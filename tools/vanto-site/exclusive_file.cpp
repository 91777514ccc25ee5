#include "exclusive_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#endif

namespace vanto::site {

ExclusiveCreation CreateExclusively(const std::filesystem::path& path) {
  ExclusiveCreation creation;
#ifdef _WIN32
  // CREATE_NEW fails on any existing name, a link or junction too: nothing is opened through it.
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    creation.file = platform::OutputFile(reinterpret_cast<std::intptr_t>(handle));
  } else {
    const DWORD error = GetLastError();
    creation.existed = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  }
#else
  // O_EXCL refuses a link at the name, dangling or not, as it refuses a file.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd >= 0) {
    creation.file = platform::OutputFile(fd);
  } else {
    creation.existed = errno == EEXIST;
  }
#endif
  return creation;
}

}  // namespace vanto::site
