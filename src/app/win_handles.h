// Owners of the Windows handles the frame creates: move-only, empty when they hold nothing.
#pragma once

#include <windows.h>

#include <utility>

namespace vanto::app {

template <class Handle, class Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset() {
    if (handle_ != nullptr) Traits::Close(std::exchange(handle_, nullptr));
  }

 private:
  Handle handle_ = nullptr;
};

struct FontTraits {
  static void Close(HFONT font) { DeleteObject(font); }
};
using UniqueFont = UniqueHandle<HFONT, FontTraits>;

struct WindowTraits {
  static void Close(HWND window) { DestroyWindow(window); }
};
using UniqueWindow = UniqueHandle<HWND, WindowTraits>;

struct ModuleTraits {
  static void Close(HMODULE module) { FreeLibrary(module); }
};
using UniqueModule = UniqueHandle<HMODULE, ModuleTraits>;

}  // namespace vanto::app
