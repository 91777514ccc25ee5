// vanto-demo-hold: freezes a window of another program in a state that lasts too short for a
// screenshot (the upgrade window shows its completion text only while the installer is being
// started). It polls the top-level windows of a class until one of them, or one of its controls,
// shows the given text, suspends that window's thread, writes OUT, and resumes the thread once
// the release file exists (or after at most HOLD_MS).
//
//   vanto-demo-hold OUT <class> <text> <timeoutMs> <releaseFile> <holdMs> [<delayMs>]
//
// The delay lets the program put on screen what it has just painted before it is frozen.
//
// OUT.ready is made once it watches. OUT (JSON): {"held": true|false, "visible": true|false}. Exit
// code 0 when it held the window, 1 when the text did not show within the time, 2 on usage.
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>

namespace {

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[512] = {};
  int got = GetWindowTextW(hwnd, buffer, 512);
  return std::wstring(buffer, got > 0 ? static_cast<size_t>(got) : 0);
}

struct Search {
  const std::wstring* text;
  bool found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  if (TextOf(child) == *search->text) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

bool Shows(HWND window, const std::wstring& text) {
  if (TextOf(window) == text) return true;
  Search search{&text, false};
  EnumChildWindows(window, MatchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindShowing(const std::wstring& windowClass, const std::wstring& text) {
  for (HWND hwnd = FindWindowExW(nullptr, nullptr, windowClass.c_str(), nullptr); hwnd;
       hwnd = FindWindowExW(nullptr, hwnd, windowClass.c_str(), nullptr)) {
    if (IsWindowVisible(hwnd) && Shows(hwnd, text)) return hwnd;
  }
  return nullptr;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteResult(const std::wstring& path, bool held, bool visible) {
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (!out) return false;
  std::fprintf(out, "{\"held\": %s, \"visible\": %s}\n", held ? "true" : "false",
               visible ? "true" : "false");
  return std::fclose(out) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 7 && argc != 8) {
    std::fputs(
        "usage: vanto-demo-hold OUT <class> <text> <timeoutMs> <releaseFile> <holdMs> "
        "[<delayMs>]\n",
        stderr);
    return 2;
  }
  const std::wstring out = argv[1], windowClass = argv[2], text = argv[3], release = argv[5];
  const DWORD timeoutMs = wcstoul(argv[4], nullptr, 10), holdMs = wcstoul(argv[6], nullptr, 10);
  const DWORD delayMs = argc == 8 ? wcstoul(argv[7], nullptr, 10) : 0;

  FILE* ready = _wfopen((out + L".ready").c_str(), L"wb");
  if (ready) std::fclose(ready);
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  // The state to catch may last only milliseconds: poll without sleeping, yielding the core.
  while (!(window = FindShowing(windowClass, text))) {
    if (GetTickCount() - start > timeoutMs) {
      WriteResult(out, false, false);
      return 1;
    }
    Sleep(0);
  }
  if (delayMs) Sleep(delayMs);
  Handle thread(
      OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(window, nullptr)));
  bool held = thread.get() && SuspendThread(thread.get()) != static_cast<DWORD>(-1);
  // Between the look and the suspension the program may have moved on.
  bool visible = IsWindow(window) && IsWindowVisible(window) && Shows(window, text);
  WriteResult(out, held, visible);
  if (held) {
    const DWORD heldAt = GetTickCount();
    while (!Exists(release) && GetTickCount() - heldAt < holdMs) Sleep(20);
    ResumeThread(thread.get());
  }
  return held ? 0 : 1;
}
