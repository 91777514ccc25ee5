// The downloaded file on Windows.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/file.h"

namespace vanto::platform {
namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

HANDLE Native(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// The system's text for an error, in the user's language, without the trailing blanks, control
// characters and periods.
std::u16string ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string text;
  if (length != 0 && buffer != nullptr) {
    text.assign(reinterpret_cast<const char16_t*>(buffer), length);
  }
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.pop_back();
  return text;
}

// Paths of MAX_PATH characters and more are handed over in their extended-length form, so that
// a staging file beside a target just short of the limit can still be made.
std::u16string NativePath(const std::u16string& path) {
  if (path.size() < MAX_PATH || path.rfind(u"\\\\?\\", 0) == 0) return path;
  const std::u16string full = FullPathName(path);
  if (full.size() > 2 && full[1] == u':') return u"\\\\?\\" + full;
  if (full.rfind(u"\\\\", 0) == 0) return u"\\\\?\\UNC\\" + full.substr(2);
  return path;
}

FileCreation Create(const std::u16string& native, DWORD disposition, DWORD flags = 0) {
  FileCreation result;
  HANDLE h = CreateFileW(Wide(native), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    result.errorText = ErrorText(GetLastError());
    return result;
  }
  result.file = OutputFile(reinterpret_cast<std::intptr_t>(h));
  return result;
}

}  // namespace

bool OutputFile::Write(const void* data, size_t size) {
  if (!IsOpen()) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(Native(handle_), bytes, piece, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

bool OutputFile::Close() {
  if (!IsOpen()) return true;
  const bool kept = CloseHandle(Native(handle_)) != 0;
  handle_ = -1;
  return kept;
}

FileCreation CreateOutputFile(const std::u16string& path) {
  return Create(NativePath(path), CREATE_ALWAYS);
}

// Removes the file or link at `native` itself, never what a link points to: a read-only file
// too (what a killed run left may have been made so), and a link to a folder. The error of the
// last try when nothing could be removed; 0 when it was, or nothing was there.
DWORD RemoveWhateverIsAt(const std::u16string& native) {
  const DWORD attributes = GetFileAttributesW(Wide(native));
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  const bool folderLink = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (folderLink ? RemoveDirectoryW(Wide(native)) : DeleteFileW(Wide(native))) return 0;
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      SetFileAttributesW(Wide(native), FILE_ATTRIBUTE_NORMAL)) {
    if (folderLink ? RemoveDirectoryW(Wide(native)) : DeleteFileW(Wide(native))) return 0;
    error = GetLastError();
  }
  return error;
}

FileCreation CreateFreshFile(const std::u16string& path) {
  const std::u16string native = NativePath(path);
  const DWORD removal = RemoveWhateverIsAt(native);
  // A link made in between is opened as the link, which exists: the create fails.
  FileCreation creation = Create(native, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT);
  // The reason is what kept the old one there, not that something exists.
  if (!creation.file.IsOpen() && removal != 0) creation.errorText = ErrorText(removal);
  return creation;
}

std::optional<std::u16string> WhyNotReplaceable(const std::u16string& path) {
  HANDLE h = CreateFileW(Wide(NativePath(path)), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return std::nullopt;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
  return ErrorText(error);
}

bool IsFileOrNothing(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(NativePath(path)));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  // Device names (NUL, COM1, ...) answer with attributes too; only a disk file is a file.
  HANDLE h =
      CreateFileW(Wide(NativePath(path)), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;  // a file we may not open: its save will say why
  const bool disk = GetFileType(h) == FILE_TYPE_DISK;
  CloseHandle(h);
  return disk;
}

FileReplacement ReplaceWith(const std::u16string& from, const std::u16string& to) {
  FileReplacement result;
  result.replaced =
      MoveFileExW(Wide(NativePath(from)), Wide(NativePath(to)), MOVEFILE_REPLACE_EXISTING) != 0;
  if (!result.replaced) {
    const DWORD error = GetLastError();
    result.transient = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                       error == ERROR_LOCK_VIOLATION;
    result.errorText = ErrorText(error);
  }
  return result;
}

std::u16string FullPathName(const std::u16string& path) {
  DWORD needed = GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::vector<wchar_t> buffer(needed + 1);
  DWORD length =
      GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return path;
  return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), length);
}

bool RemoveFile(const std::u16string& path) {
  return DeleteFileW(Wide(NativePath(path))) != 0;
}

}  // namespace vanto::platform
