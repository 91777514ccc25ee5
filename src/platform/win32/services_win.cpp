#include "platform/win32/services_win.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <vector>

#include "platform/win32/registry_key_win.h"

namespace vanto::platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows texts are UTF-16");

const wchar_t* W(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string U(const wchar_t* text, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// Up to the first NUL within the first `capacity` characters.
std::u16string UpToNul(const wchar_t* text, size_t capacity) {
  return U(text, wcsnlen(text, capacity));
}

class WindowsRegistryKey : public RegistryKey {
 public:
  explicit WindowsRegistryKey(RegistryKeyHandle key) : key_(std::move(key)) {}

  RegistryText ReadText(const std::u16string& valueName) override {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key_.Get(), W(valueName), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0) {
      return {};
    }
    // One more character than the data holds, so that a value stored without its NUL ends too.
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    DWORD read = size;
    if (RegQueryValueExW(key_.Get(), W(valueName), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &read) != ERROR_SUCCESS) {
      return {RegistryRead::kReadFailed, {}};
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {RegistryRead::kWrongType, {}};
    return {RegistryRead::kText, UpToNul(data.data(), read / sizeof(wchar_t))};
  }

 private:
  RegistryKeyHandle key_;
};

bool IsDirectory(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// For a link, what it points to: open it (which follows it) and ask.
bool LinkTargetIsFile(const std::u16string& path) {
  HANDLE file = CreateFileW(W(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool isFile =
      GetFileInformationByHandle(file, &info) && !IsDirectory(info.dwFileAttributes);
  CloseHandle(file);
  return isFile;
}

}  // namespace

WindowsServices::WindowsServices(std::function<HWND()> ownerWindow)
    : ownerWindow_(std::move(ownerWindow)) {}

std::u16string WindowsServices::SpecialFolder(int csidl) {
  // A failed lookup leaves the buffer as it was: empty.
  wchar_t path[MAX_PATH] = {};
  const HWND owner = ownerWindow_ ? ownerWindow_() : nullptr;
  SHGetSpecialFolderPathW(owner, path, csidl, FALSE);
  return UpToNul(path, MAX_PATH);
}

bool WindowsServices::FileExists(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES || IsDirectory(attributes)) return false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return LinkTargetIsFile(path);
  return true;
}

bool WindowsServices::DirectoryExists(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(W(path));
  return attributes != INVALID_FILE_ATTRIBUTES && IsDirectory(attributes);
}

bool WindowsServices::Delete(const std::u16string& path) {
  return DeleteFileW(W(path)) != 0;
}

bool WindowsServices::Move(const std::u16string& from, const std::u16string& to) {
  return MoveFileW(W(from), W(to)) != 0;
}

bool WindowsServices::MakeDirectory(const std::u16string& path) {
  return CreateDirectoryW(W(path), nullptr) != 0;
}

void WindowsServices::Sleep(unsigned milliseconds) {
  ::Sleep(milliseconds);
}

std::unique_ptr<RegistryKey> WindowsServices::OpenUserKey(const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, W(path), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<WindowsRegistryKey>(RegistryKeyHandle(key));
}

std::u16string WindowsServices::ReadProfileString(const std::u16string& file,
                                                  const std::u16string& section,
                                                  const std::u16string& key,
                                                  const std::u16string& defaultValue) {
  constexpr DWORD kBufferSize = 2048;
  std::vector<wchar_t> buffer(kBufferSize, L'\0');
  const DWORD length = GetPrivateProfileStringW(W(section), W(key), W(defaultValue), buffer.data(),
                                                kBufferSize, W(file));
  return U(buffer.data(), length < kBufferSize ? length : kBufferSize - 1);
}

std::intptr_t WindowsServices::ShellOpen(const std::u16string& file) {
  const HINSTANCE result =
      ShellExecuteW(GetDesktopWindow(), L"open", W(file), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<std::intptr_t>(result);
}

}  // namespace vanto::platform
