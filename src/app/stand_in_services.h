// Interim: the Windows services until the platform layer's own land; removed then.
#pragma once

#include <windows.h>

#include "platform/services.h"

namespace vanto::app {

class StandInServices : public platform::Services {
 public:
  explicit StandInServices(HWND owner) : owner_(owner) {}
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

 private:
  HWND owner_;
};

char16_t StandInDecimalSeparator();

}  // namespace vanto::app
