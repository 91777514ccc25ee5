// The downloaded file on Windows.
#include <windows.h>

#include <algorithm>
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

namespace {

// Deletes, through one handle so that nothing can be swapped in between, a read-only file that
// has no other name: its attributes belong to every name of it, and a leftover that is a link to
// a read-only file elsewhere must leave that file read-only. Returns the error, or 0.
DWORD RemoveReadOnly(const std::u16string& native, bool folderLink) {
  HANDLE h = CreateFileW(
      Wide(native), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | (folderLink ? FILE_FLAG_BACKUP_SEMANTICS : 0),
      nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = 0;
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic = {};
  if (!GetFileInformationByHandle(h, &info) ||
      !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
    error = GetLastError();
  } else if (info.nNumberOfLinks > 1) {
    error = ERROR_ACCESS_DENIED;
  } else {
    const DWORD readOnly = basic.FileAttributes;
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) ||
        !SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition)) {
      error = GetLastError();
      basic.FileAttributes = readOnly;
      SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
    }
  }
  CloseHandle(h);
  return error;
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
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return RemoveReadOnly(native, folderLink);
  }
  return error;
}

}  // namespace

// The handle is opened with the right to rename and delete it and shared with nobody: no other
// process can open, swap or remove the file until it is closed; another run meets a sharing
// violation when it tries to remove it.
StagingCreation CreateStagingFile(const std::u16string& stagingPath, bool) {
  StagingCreation result;
  const std::u16string native = NativePath(stagingPath);
  const DWORD removal = RemoveWhateverIsAt(native);
  // A link made in between is opened as the link, which exists: the create fails.
  HANDLE h = CreateFileW(Wide(native), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // The reason is what kept the old one there, not that something exists.
    result.errorText = ErrorText(removal != 0 ? removal : GetLastError());
    return result;
  }
  result.file.file_ = OutputFile(reinterpret_cast<std::intptr_t>(h));
  return result;
}

// The handle stays open until the replace, which goes through it.
bool StagingFile::Finish() {
  return file_.IsOpen();
}

FileReplacement StagingFile::Replace(const std::u16string& target) {
  FileReplacement result;
  std::u16string full = FullPathName(target);
  if (full.size() >= MAX_PATH) full = NativePath(full);
  // The structure ends in the name, which runs past its declared one-character array.
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + full.size() * sizeof(wchar_t));
  FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(full.size() * sizeof(wchar_t));
  std::copy(full.begin(), full.end(), reinterpret_cast<char16_t*>(rename->FileName));
  reinterpret_cast<char16_t*>(rename->FileName)[full.size()] = u'\0';
  result.replaced =
      file_.IsOpen() && SetFileInformationByHandle(Native(file_.Handle()), FileRenameInfo, rename,
                                                   static_cast<DWORD>(buffer.size())) != 0;
  if (!result.replaced) {
    const DWORD error = file_.IsOpen() ? GetLastError() : ERROR_INVALID_HANDLE;
    result.transient = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                       error == ERROR_LOCK_VIOLATION;
    result.errorText = ErrorText(error);
    return result;
  }
  file_.Close();
  return result;
}

// Through the handle: the file deleted is this one, whatever stands at its name.
void StagingFile::Discard() {
  if (!file_.IsOpen()) return;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  SetFileInformationByHandle(Native(file_.Handle()), FileDispositionInfo, &disposition,
                             sizeof disposition);
  file_.Close();
}

std::u16string AccessDeniedText() {
  return ErrorText(ERROR_ACCESS_DENIED);
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

std::u16string FullPathName(const std::u16string& path) {
  DWORD needed = GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::vector<wchar_t> buffer(needed + 1);
  DWORD length =
      GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return path;
  return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), length);
}

}  // namespace vanto::platform
