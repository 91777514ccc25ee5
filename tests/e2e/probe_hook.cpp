// vanto-probe-hook.dll: the watcher's hook, which Wine loads into every program of the session that
// handles a sent message. After a top-level window of a watched class, or one of its controls, has
// taken a new text or been shown or hidden, the program waits (three seconds at most) until the
// watcher has polled twice: the state the watcher then records is the one the change made, even
// when the program goes on to change it again a moment later. A wait given up is counted, and the
// case that it belongs to fails.
#include <windows.h>

#include <cwchar>

#include "probe_watch_share.h"

namespace {

using vanto::probe::kWatchShareName;
using vanto::probe::WatchShare;

constexpr DWORD kLongestWaitMs = 3000;

bool Listed(const wchar_t* classes, const wchar_t* name) {
  const size_t length = std::wcslen(name);
  for (const wchar_t* line = classes; *line;) {
    const wchar_t* end = std::wcschr(line, L'\n');
    if (end == nullptr) return false;
    if (static_cast<size_t>(end - line) == length && std::wcsncmp(line, name, length) == 0) {
      return true;
    }
    line = end + 1;
  }
  return false;
}

void WaitUntilSeen(HWND changed) {
  // Opened afresh each time: a watcher of an earlier case may have gone, a new one come.
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kWatchShareName);
  if (mapping == nullptr) return;  // no watcher: nothing is watched
  auto* share = static_cast<WatchShare*>(
      MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(WatchShare)));
  if (share != nullptr) {
    wchar_t name[256] = {};
    HWND top = GetAncestor(changed, GA_ROOT);
    if (share->watching && share->watcher != GetCurrentProcessId() && top != nullptr &&
        GetClassNameW(top, name, 256) > 0 && Listed(share->classes, name)) {
      const LONG before = share->polls;
      const DWORD start = GetTickCount();
      while (share->watching && share->polls - before < 2 &&
             GetTickCount() - start < kLongestWaitMs)
        Sleep(1);
      if (share->watching && share->polls - before < 2) InterlockedIncrement(&share->giveUps);
    }
    UnmapViewOfFile(share);
  }
  CloseHandle(mapping);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    WatchHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    bool changed = message->message == WM_SETTEXT;
    if (message->message == WM_WINDOWPOSCHANGED) {
      const auto* position = reinterpret_cast<const WINDOWPOS*>(message->lParam);
      changed = (position->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) != 0;
    }
    if (changed) WaitUntilSeen(message->hwnd);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
