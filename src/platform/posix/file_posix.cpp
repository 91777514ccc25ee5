// The downloaded file on Linux. Paths arrive as UTF-16 and are handed to the system as UTF-8.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
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

bool SameFile(const struct stat& info, std::uint64_t device, std::uint64_t inode) {
  return static_cast<std::uint64_t>(info.st_dev) == device &&
         static_cast<std::uint64_t>(info.st_ino) == inode;
}

// Whether `name` is still this file: another process that can write the folder may have put its
// own file there.
bool NamesFile(const std::string& name, std::uint64_t device, std::uint64_t inode) {
  struct stat info;
  return lstat(name.c_str(), &info) == 0 && SameFile(info, device, inode);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A name in `folder` that no other run uses: random, and taken only by an exclusive create or
// link, which fails where anything stands.
std::string UniqueName(const std::string& folder) {
  std::random_device random;
  char tag[17];
  std::snprintf(tag, sizeof tag, "%08x%08x", random(), random());
  return folder + "/." + tag + ".part";
}

constexpr int kUniqueNameTries = 16;

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

StagingCreation CreateStagingFile(const std::u16string& stagingPath, bool unnamed) {
  StagingCreation result;
  const std::string folder = FolderOf(Utf16ToUtf8(stagingPath));
  int fd = -1;
  std::string name;
  if (unnamed) {
    do {
      fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    // File systems without unnamed files say so in one of these ways.
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      result.errorText = ErrorText(errno);
      return result;
    }
  }
  for (int tries = 0; fd < 0 && tries < kUniqueNameTries; ++tries) {
    name = UniqueName(folder);
    do {
      fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    result.errorText = ErrorText(errno);
    return result;
  }
  result.file.file_ = OutputFile(fd);
  struct stat info;
  if (fstat(fd, &info) != 0) {
    result.errorText = ErrorText(errno);
    if (!name.empty()) unlink(name.c_str());
    result.file.file_.Close();
    return result;
  }
  result.file.name_ = Utf8ToUtf16(name);
  if (name.empty()) result.file.folder_ = Utf8ToUtf16(folder);
  result.file.device_ = static_cast<std::uint64_t>(info.st_dev);
  result.file.inode_ = static_cast<std::uint64_t>(info.st_ino);
  return result;
}

// An unnamed file gets its name here, through the open descriptor: it cannot be another file.
// Then it is closed, so that a file system that reports lost bytes only at the close fails the
// save before the target is touched.
bool StagingFile::Finish() {
  if (!file_.IsOpen()) return !name_.empty();
  if (name_.empty()) {
    const int fd = Fd(file_.Handle());
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const std::string folder = Utf16ToUtf8(folder_);
    bool linked = false;
    for (int tries = 0; !linked && tries < kUniqueNameTries; ++tries) {
      const std::string name = UniqueName(folder);
      linked = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
               (errno != EEXIST && linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0);
      if (linked) name_ = Utf8ToUtf16(name);
      if (!linked && errno != EEXIST) break;
    }
    if (!linked) return false;
  }
  return file_.Close();
}

FileReplacement StagingFile::Replace(const std::u16string& target) {
  FileReplacement result;
  const std::string name = Utf16ToUtf8(name_);
  if (name.empty() || file_.IsOpen() || !NamesFile(name, device_, inode_)) {
    result.errorText = ErrorText(ESTALE);
    return result;
  }
  if (rename(name.c_str(), Utf16ToUtf8(target).c_str()) != 0) {
    result.transient = errno == EBUSY;
    result.errorText = ErrorText(errno);
    return result;
  }
  name_.clear();
  // A file swapped in between the look and the rename has taken the target's place: the save
  // did not happen, whatever the target now holds.
  struct stat info;
  result.replaced =
      stat(Utf16ToUtf8(target).c_str(), &info) == 0 && SameFile(info, device_, inode_);
  if (!result.replaced) result.errorText = ErrorText(ESTALE);
  return result;
}

void StagingFile::Discard() {
  file_.Close();
  if (!name_.empty()) {
    const std::string name = Utf16ToUtf8(name_);
    if (NamesFile(name, device_, inode_)) unlink(name.c_str());
    name_.clear();
  }
}

std::u16string AccessDeniedText() {
  return ErrorText(EACCES);
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

}  // namespace vanto::platform
