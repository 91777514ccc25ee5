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

FileCreation Create(const std::u16string& native, DWORD disposition) {
  FileCreation result;
  HANDLE h = CreateFileW(Wide(native), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
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

bool OutputFile::IsRegularFile() const {
  if (!IsOpen() || GetFileType(Native(handle_)) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(Native(handle_), &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
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

FileCreation CreateFreshFile(const std::u16string& path) {
  const std::u16string native = NativePath(path);
  // A link is removed itself, never what it points to; what cannot be removed makes the
  // exclusive create fail below.
  DeleteFileW(Wide(native));
  return Create(native, CREATE_NEW);
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
  if (h == INVALID_HANDLE_VALUE) return true;  // a file we may not open; the rename will tell
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
