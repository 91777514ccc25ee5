// The real operating-system services of the update, over the Windows API.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/services.h"

namespace vanto::platform {

class WindowsServices : public Services {
 public:
  // `ownerWindow` gives the window that owns whatever the shell shows during a folder lookup (the
  // hidden application window); it is asked at each lookup and may answer null.
  explicit WindowsServices(std::function<HWND()> ownerWindow = {});

  std::u16string SpecialFolder(int csidl) override;
  bool FileExists(const std::u16string& path) override;
  bool DirectoryExists(const std::u16string& path) override;
  bool Delete(const std::u16string& path) override;
  bool Move(const std::u16string& from, const std::u16string& to) override;
  bool MakeDirectory(const std::u16string& path) override;
  void Sleep(unsigned milliseconds) override;
  std::unique_ptr<RegistryKey> OpenUserKey(const std::u16string& path) override;
  std::u16string ReadProfileString(const std::u16string& file, const std::u16string& section,
                                   const std::u16string& key,
                                   const std::u16string& defaultValue) override;
  std::intptr_t ShellOpen(const std::u16string& file) override;

 private:
  std::function<HWND()> ownerWindow_;
};

}  // namespace vanto::platform
