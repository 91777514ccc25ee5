#include "app/modal_scope.h"

namespace vanto::app {

ModalScope::ModalScope(HWND owner)
    : owner_(owner), activeBefore_(GetActiveWindow()), focusBefore_(GetFocus()) {
  EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(this));
}

BOOL CALLBACK ModalScope::DisableOne(HWND window, LPARAM scope) {
  auto* self = reinterpret_cast<ModalScope*>(scope);
  if (window != self->owner_ && IsWindowVisible(window) && IsWindowEnabled(window)) {
    EnableWindow(window, FALSE);
    self->disabled_.push_back(window);
  }
  return TRUE;
}

ModalScope::~ModalScope() {
  for (HWND window : disabled_) {
    if (IsWindow(window)) EnableWindow(window, TRUE);
  }
  if (activeBefore_ != nullptr && IsWindow(activeBefore_)) SetActiveWindow(activeBefore_);
  if (focusBefore_ != nullptr && IsWindow(focusBefore_)) SetFocus(focusBefore_);
}

}  // namespace vanto::app
