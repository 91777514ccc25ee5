// The operating-system services that the update procedure uses, behind one interface so that the
// procedure runs against a recording fake in the tests. The real one is Windows (win32/).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vanto::platform {

constexpr int kFolderProgramFiles = 38;  // CSIDL_PROGRAM_FILES
constexpr int kFolderPersonal = 5;       // CSIDL_PERSONAL, the user's documents

enum class RegistryRead {
  kText,        // a text value, or a missing or empty value read as the empty text
  kWrongType,   // data of a type other than REG_SZ and REG_EXPAND_SZ
  kReadFailed,  // the size could be read, the data then could not
};

struct RegistryText {
  RegistryRead status = RegistryRead::kText;
  std::u16string text;
};

// An open registry key; closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // REG_SZ and REG_EXPAND_SZ as stored, up to the first NUL, never expanded.
  virtual RegistryText ReadText(const std::u16string& valueName) = 0;
};

class Services {
 public:
  virtual ~Services() = default;

  // SHGetSpecialFolderPathW, looked up afresh on every call, cut at the first NUL, no trailing
  // backslash.
  virtual std::u16string SpecialFolder(int csidl) = 0;
  // True for an existing entry that is not a directory (links followed).
  virtual bool FileExists(const std::u16string& path) = 0;
  virtual bool DirectoryExists(const std::u16string& path) = 0;
  virtual bool Delete(const std::u16string& path) = 0;
  // Never replaces an existing target.
  virtual bool Move(const std::u16string& from, const std::u16string& to) = 0;
  // Creates one folder level; false when it could not be made.
  virtual bool MakeDirectory(const std::u16string& path) = 0;
  virtual void Sleep(unsigned milliseconds) = 0;
  // Opens HKEY_CURRENT_USER\`path` for reading only; null when it is missing or not readable.
  virtual std::unique_ptr<RegistryKey> OpenUserKey(const std::u16string& path) = 0;
  // GetPrivateProfileStringW with a 2048-character buffer: at most 2047 characters come back.
  virtual std::u16string ReadProfileString(const std::u16string& file,
                                           const std::u16string& section, const std::u16string& key,
                                           const std::u16string& defaultValue) = 0;
  // ShellExecuteW(GetDesktopWindow(), "open", file, no parameters, no folder, SW_SHOWNORMAL);
  // the shell's result (above 32 means the file was opened).
  virtual std::intptr_t ShellOpen(const std::u16string& file) = 0;
};

}  // namespace vanto::platform
