// The downloaded file on Linux. Paths arrive as UTF-16 and are handed to the system as UTF-8.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/utf.h"

namespace vanto::platform {
namespace {

// The system's text for an error, without the trailing blanks, control characters and periods.
std::u16string ErrorText(int error) {
  std::u16string text = Utf8ToUtf16(std::strerror(error));
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.pop_back();
  return text;
}

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

FileCreation Create(const std::string& native, int flags) {
  FileCreation result;
  int fd;
  do {
    fd = open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    // An empty name or one with a NUL in it names no file at all.
    result.errorText = ErrorText(errno);
    return result;
  }
  result.file = OutputFile(fd);
  return result;
}

}  // namespace

bool OutputFile::Write(const void* data, size_t size) {
  if (!IsOpen()) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(Fd(handle_), bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool OutputFile::Close() {
  if (!IsOpen()) return true;
  const bool kept = close(Fd(handle_)) == 0 || errno == EINTR;
  handle_ = -1;
  return kept;
}

FileCreation CreateOutputFile(const std::u16string& path) {
  return Create(Utf16ToUtf8(path), O_TRUNC);
}

FileCreation CreateFreshFile(const std::u16string& path) {
  const std::string native = Utf16ToUtf8(path);
  unlink(native.c_str());  // what cannot be removed makes the exclusive create fail below
  return Create(native, O_EXCL | O_NOFOLLOW);
}

std::optional<std::u16string> WhyNotReplaceable(const std::u16string& path) {
  int fd;
  do {
    fd = open(Utf16ToUtf8(path).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    close(fd);
    return std::nullopt;
  }
  if (errno == ENOENT) return std::nullopt;
  return ErrorText(errno);
}

bool IsFileOrNothing(const std::u16string& path) {
  struct stat info;
  if (stat(Utf16ToUtf8(path).c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

FileReplacement ReplaceWith(const std::u16string& from, const std::u16string& to) {
  FileReplacement result;
  result.replaced = rename(Utf16ToUtf8(from).c_str(), Utf16ToUtf8(to).c_str()) == 0;
  if (!result.replaced) {
    result.transient = errno == EBUSY;
    result.errorText = ErrorText(errno);
  }
  return result;
}

std::u16string FullPathName(const std::u16string& path) {
  std::string native = Utf16ToUtf8(path);
  if (native.empty() || native[0] != '/') {
    std::vector<char> cwd(4096);
    while (getcwd(cwd.data(), cwd.size()) == nullptr && errno == ERANGE) cwd.resize(cwd.size() * 2);
    native = std::string(cwd.data()) + "/" + native;
  }
  // Lexical normalisation: no symbolic link is followed, as the file may not exist yet.
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= native.size()) {
    size_t end = native.find('/', at);
    if (end == std::string::npos) end = native.size();
    std::string part = native.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string full;
  for (const std::string& part : parts) full += "/" + part;
  if (full.empty() || (!native.empty() && native.back() == '/')) full += "/";
  return Utf8ToUtf16(full);
}

bool RemoveFile(const std::u16string& path) {
  return unlink(Utf16ToUtf8(path).c_str()) == 0;
}

}  // namespace vanto::platform
