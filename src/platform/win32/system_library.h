// A DLL that is no KnownDLL, loaded from the system folder only: a copy planted beside the exe or
// in the current folder is never the one that runs. One owner per loaded module.
#pragma once

#include <windows.h>

#include <utility>

namespace vanto::platform {

class SystemLibrary {
 public:
  // Empty where the system cannot restrict the search (a Windows 7 without the loader update):
  // the callers then go without, rather than load whatever the default search finds.
  explicit SystemLibrary(const wchar_t* name) noexcept
      : module_(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {}
  ~SystemLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  SystemLibrary(SystemLibrary&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
  SystemLibrary& operator=(SystemLibrary&& other) noexcept {
    std::swap(module_, other.module_);
    return *this;
  }
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  // The export `name` as a `Function` (the type of its declaration), or null.
  template <typename Function>
  Function Find(const char* name) const noexcept {
    if (module_ == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
};

}  // namespace vanto::platform
