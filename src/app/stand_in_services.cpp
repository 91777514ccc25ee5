#include "app/stand_in_services.h"

#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "app/wide.h"

namespace vanto::app {
namespace {

class StandInKey : public platform::RegistryKey {
 public:
  explicit StandInKey(HKEY key) : key_(key) {}
  ~StandInKey() override { RegCloseKey(key_); }
  platform::RegistryText ReadText(const std::u16string& valueName) override {
    const std::wstring name = Wide(valueName);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        size == 0) {
      return {};
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {platform::RegistryRead::kWrongType, {}};
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1);
    if (RegQueryValueExW(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS) {
      return {platform::RegistryRead::kReadFailed, {}};
    }
    return {platform::RegistryRead::kText, Utf16(data.data())};
  }

 private:
  HKEY key_;
};

}  // namespace

std::u16string StandInServices::SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetSpecialFolderPathW(owner_, path, csidl, FALSE);
  return Utf16(path);
}
bool StandInServices::FileExists(const std::u16string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
bool StandInServices::DirectoryExists(const std::u16string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
bool StandInServices::Delete(const std::u16string& path) {
  return DeleteFileW(Wide(path).c_str());
}
bool StandInServices::Move(const std::u16string& from, const std::u16string& to) {
  return MoveFileW(Wide(from).c_str(), Wide(to).c_str());
}
bool StandInServices::MakeDirectory(const std::u16string& path) {
  return CreateDirectoryW(Wide(path).c_str(), nullptr);
}
void StandInServices::Sleep(unsigned milliseconds) {
  ::Sleep(milliseconds);
}
std::unique_ptr<platform::RegistryKey> StandInServices::OpenUserKey(const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<StandInKey>(key);
}
std::u16string StandInServices::ReadProfileString(const std::u16string& file,
                                                  const std::u16string& section,
                                                  const std::u16string& key,
                                                  const std::u16string& defaultValue) {
  wchar_t buffer[2048] = {};
  DWORD length =
      GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(defaultValue).c_str(),
                               buffer, 2048, Wide(file).c_str());
  return Utf16(std::wstring_view(buffer, length));
}
std::intptr_t StandInServices::ShellOpen(const std::u16string& file) {
  return reinterpret_cast<std::intptr_t>(ShellExecuteW(
      GetDesktopWindow(), L"open", Wide(file).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}

char16_t StandInDecimalSeparator() {
  wchar_t separator[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) < 2) return u'.';
  return static_cast<char16_t>(separator[0]);
}

}  // namespace vanto::app
