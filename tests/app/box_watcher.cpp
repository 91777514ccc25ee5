#include "app/box_watcher.h"

namespace vanto::test {
namespace {

BoxWatcher* current = nullptr;  // one watcher at a time, on the test's thread

}  // namespace

std::wstring TextOf(HWND window) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256] = {};
  GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
  return buffer;
}

BoxWatcher::BoxWatcher(std::vector<HWND> watched) : watched_(std::move(watched)) {
  current = this;
  timer_ = SetTimer(nullptr, 0, 50, OnTimer);
}

BoxWatcher::~BoxWatcher() {
  KillTimer(nullptr, timer_);
  current = nullptr;
}

BOOL CALLBACK BoxWatcher::FindBox(HWND window, LPARAM found) {
  if (IsWindowVisible(window) && ClassOf(window) == L"#32770") {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK BoxWatcher::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (current == nullptr) return;
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
  if (box != nullptr) current->Answer(box);
}

void BoxWatcher::Answer(HWND box) {
  SeenBox seen;
  seen.caption = TextOf(box);
  seen.owner = GetWindow(box, GW_OWNER);
  GetWindowRect(box, &seen.bounds);
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) != L"Static") continue;
    if (GetDlgCtrlID(child) == 0xFFFF) seen.isMessageBox = true;  // a message box's text
    if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      // A message box keeps its icon control also when it shows no icon.
      const bool showsIcon = IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0) != 0;
      seen.hasStopIcon = seen.hasStopIcon || showsIcon;
      continue;
    }
    const std::wstring text = TextOf(child);
    if (text.empty()) continue;
    if (!seen.text.empty()) seen.text += L"|";
    seen.text += text;
  }
  for (HWND window : watched_) seen.enabled.push_back(IsWindowEnabled(window) != FALSE);
  boxes_.push_back(std::move(seen));
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  if (afterAnswer) afterAnswer();
}

void PumpPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // left for TakeQuitMessage
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int TakeQuitMessage() {
  MSG message;
  if (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    return static_cast<int>(message.wParam);
  }
  return -1;
}

}  // namespace vanto::test
