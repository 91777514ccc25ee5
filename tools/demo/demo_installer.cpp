// vanto-demo-installer: the installer that the demo serves. It does what a real vanto installer
// does, in miniature: it writes the new %ProgramFiles%\vanto\vanto.exe (a one-line text naming the
// version, enough to show that the program was replaced) and records the new version as `Ver` in
// HKCU\Software\vanto, since vantoup itself never writes the registry.
//
// The version comes from the installer's own file: the demo appends a line
// "VANTO-DEMO-VERSION=<version>" to the copy it serves, so one build fits every version.
// Started without that line it refuses to install anything.
//
// Whatever it did goes to "<its own path>.ran" (UTF-8), for the demo's report.
#include <shlobj.h>
#include <windows.h>

#include <string>
#include <utility>

namespace {

constexpr char kVersionTag[] = "VANTO-DEMO-VERSION=";
constexpr DWORD kTailBytes = 4096;

class File {
 public:
  File() = default;
  explicit File(HANDLE handle) : handle_(handle) {}
  File(File&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  File& operator=(File&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (valid()) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class RegistryKey {
 public:
  RegistryKey() = default;
  explicit RegistryKey(HKEY key) : key_(key) {}
  RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  RegistryKey& operator=(RegistryKey&& other) noexcept {
    std::swap(key_, other.key_);
    return *this;
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::wstring OwnPath() {
  std::wstring path(MAX_PATH * 4, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  return path;
}

// The version the demo appended to this copy of the installer, or "" when there is none.
std::string AppendedVersion(const std::wstring& self) {
  File file(CreateFileW(self.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return {};
  LARGE_INTEGER start{};
  start.QuadPart = size.QuadPart > kTailBytes ? size.QuadPart - kTailBytes : 0;
  if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) return {};
  std::string tail(kTailBytes, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), tail.data(), kTailBytes, &got, nullptr)) return {};
  tail.resize(got);
  size_t at = tail.rfind(kVersionTag);
  if (at == std::string::npos) return {};
  at += sizeof kVersionTag - 1;
  size_t end = tail.find_first_of("\r\n", at);
  std::string version = tail.substr(at, end == std::string::npos ? std::string::npos : end - at);
  for (char c : version) {
    bool allowed = (c >= '0' && c <= '9') || c == '.' || c == ',';
    if (!allowed) return {};
  }
  return version;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  File file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::wstring ProgramFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE)) return {};
  return std::wstring(folder) + L"\\vanto";
}

bool WriteVersionToRegistry(const std::string& version) {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\vanto", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &raw, nullptr) != ERROR_SUCCESS)
    return false;
  RegistryKey key(raw);
  std::wstring text = Wide(version);
  DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), L"Ver", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        bytes) == ERROR_SUCCESS;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::wstring self = OwnPath();
  if (self.empty()) return 1;
  std::string report = "command line: " + Utf8(GetCommandLineW()) + "\r\n";
  std::string version = AppendedVersion(self);
  int exitCode = 0;
  if (version.empty()) {
    report += "no version appended to the installer: nothing installed\r\n";
    exitCode = 2;
  } else {
    std::wstring folder = ProgramFolder();
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring program = folder + L"\\vanto.exe";
    bool wrote = !folder.empty() && WriteWholeFile(program, "vanto " + version + "\r\n");
    report +=
        (wrote ? "wrote " : "could not write ") + Utf8(program) + " (vanto " + version + ")\r\n";
    bool registered = WriteVersionToRegistry(version);
    report += (registered ? "set " : "could not set ") +
              std::string("HKCU\\Software\\vanto Ver = ") + version + "\r\n";
    if (!wrote || !registered) exitCode = 3;
  }
  WriteWholeFile(self + L".ran", report);
  return exitCode;
}
