// A platform::Services that keeps files, folders, the registry key and the special folders in
// memory and records every call in order, so tests can check what the update did and when. INI
// files are read by the portable reader of update/ini_text.h.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/services.h"

namespace vanto::test {

class FakeServices : public platform::Services {
 public:
  FakeServices();

  // --- What the fake holds. Paths compare without regard to ASCII letter case. ---
  std::map<int, std::u16string> specialFolders;
  std::set<std::u16string> files;              // lower-cased
  std::set<std::u16string> folders;            // lower-cased, no trailing backslash
  std::set<std::u16string> unmakeableFolders;  // MakeDirectory fails for these (lower-cased)
  bool deleteFails = false;

  // The one registry key the fake knows; missing when `keyPresent` is false.
  std::u16string keyPath = u"Software\\vanto";
  bool keyPresent = true;
  std::map<std::u16string, platform::RegistryText> values;  // by exact value name

  // INI texts by path; a path not here is read from the disk.
  std::map<std::u16string, std::u16string> iniFiles;

  std::intptr_t shellOpenResult = 42;

  // --- What happened, one line per call, e.g. "Move a -> b", "Sleep 500", "CloseKey". ---
  std::vector<std::string> calls;
  // Index of the first call starting with `prefix`, or -1.
  int IndexOf(const std::string& prefix) const;
  int Count(const std::string& prefix) const;

  void AddFile(const std::u16string& path) { files.insert(Lower(path)); }
  void AddFolder(const std::u16string& path) { folders.insert(Lower(path)); }
  bool HasFile(const std::u16string& path) const { return files.count(Lower(path)) != 0; }
  bool HasFolder(const std::u16string& path) const { return folders.count(Lower(path)) != 0; }
  static std::u16string Lower(std::u16string text);

  // --- platform::Services ---
  std::u16string SpecialFolder(int csidl) override;
  bool FileExists(const std::u16string& path) override;
  bool DirectoryExists(const std::u16string& path) override;
  bool Delete(const std::u16string& path) override;
  bool Move(const std::u16string& from, const std::u16string& to) override;
  bool MakeDirectory(const std::u16string& path) override;
  void Sleep(unsigned milliseconds) override;
  std::unique_ptr<platform::RegistryKey> OpenUserKey(const std::u16string& path) override;
  std::u16string ReadProfileString(const std::u16string& file, const std::u16string& section,
                                   const std::u16string& key,
                                   const std::u16string& defaultValue) override;
  std::intptr_t ShellOpen(const std::u16string& file) override;

  void Record(const std::string& line) { calls.push_back(line); }
};

}  // namespace vanto::test
