// An open registry key handle: closed when destroyed, move-only.
#pragma once

#include <windows.h>

#include <utility>

namespace vanto::platform {

class RegistryKeyHandle {
 public:
  RegistryKeyHandle() = default;  // no key
  explicit RegistryKeyHandle(HKEY key) : key_(key) {}
  ~RegistryKeyHandle() { Close(); }
  RegistryKeyHandle(RegistryKeyHandle&& other) noexcept
      : key_(std::exchange(other.key_, nullptr)) {}
  RegistryKeyHandle& operator=(RegistryKeyHandle&& other) noexcept {
    if (this != &other) {
      Close();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  RegistryKeyHandle(const RegistryKeyHandle&) = delete;
  RegistryKeyHandle& operator=(const RegistryKeyHandle&) = delete;

  HKEY Get() const noexcept { return key_; }
  bool IsOpen() const noexcept { return key_ != nullptr; }
  void Close() noexcept {
    if (key_) RegCloseKey(std::exchange(key_, nullptr));
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace vanto::platform
