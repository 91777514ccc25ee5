#include "probe_windows.h"

namespace vanto::probe {
namespace {

// Enumeration callbacks are plain functions: 32-bit Windows calls them with stdcall, which a
// capture-less lambda cannot be converted to.
BOOL CALLBACK CollectOtherProcess(HWND hwnd, LPARAM list) {
  if (OfOtherProcess(hwnd)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK CollectAll(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

}  // namespace

// The stored text, read without sending the window a message: a program whose thread is busy in
// a download must not hold the probe up.
// A text that fills the buffer may be longer: the buffer grows until it is read whole.
std::wstring TextOf(HWND hwnd) {
  for (size_t size = 8192;; size *= 4) {
    std::wstring text(size, L'\0');
    int got = InternalGetWindowText(hwnd, text.data(), static_cast<int>(text.size()));
    if (got >= static_cast<int>(size) - 1 && size < (1u << 22)) continue;
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
  }
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

bool OfOtherProcess(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid != GetCurrentProcessId();
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> found;
  EnumWindows(CollectOtherProcess, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, CollectAll, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND FindVisible(const std::wstring& className, const std::wstring* caption) {
  for (HWND hwnd : TopLevelWindows()) {
    if (!IsWindowVisible(hwnd) || ClassOf(hwnd) != className) continue;
    if (caption && TextOf(hwnd) != *caption) continue;
    return hwnd;
  }
  return nullptr;
}

HWND FocusedControl(HWND top) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(top, nullptr);
  if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) return info.hwndFocus;
  return top;
}

HWND OkButton(HWND dialog) {
  for (HWND child : ChildWindows(dialog)) {
    if (GetDlgCtrlID(child) == IDOK) return child;
  }
  for (HWND child : ChildWindows(dialog)) {
    std::wstring text = TextOf(child);
    if (text == L"OK" || text == L"&OK" || text == L"확인") return child;
  }
  return nullptr;
}

}  // namespace vanto::probe
