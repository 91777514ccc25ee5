// While a modal box is up: every other visible and enabled top-level window of the thread is
// disabled; afterwards they are enabled again, and the active window and focus are restored.
#pragma once

#include <windows.h>

#include <vector>

namespace vanto::app {

class ModalScope {
 public:
  // `owner` is left alone: the box disables and enables its owner itself.
  explicit ModalScope(HWND owner);
  ~ModalScope();
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  static BOOL CALLBACK DisableOne(HWND window, LPARAM scope);

  HWND owner_;
  HWND activeBefore_;
  HWND focusBefore_;
  std::vector<HWND> disabled_;
};

}  // namespace vanto::app
