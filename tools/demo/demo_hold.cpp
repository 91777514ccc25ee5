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
#include <cwchar>
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

struct Showing {
  const std::wstring* windowClass;
  const std::wstring* text;
  HWND found;
};

BOOL CALLBACK MatchShowing(HWND hwnd, LPARAM data) {
  auto* search = reinterpret_cast<Showing*>(data);
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  if (*search->windowClass != name || !IsWindowVisible(hwnd) || !Shows(hwnd, *search->text)) {
    return TRUE;
  }
  search->found = hwnd;
  return FALSE;
}

// The whole list at once, not FindWindowEx from the last window found: WoW64 Wine 10's server
// loops for good on such a search now and then, when windows come and go meanwhile.
HWND FindShowing(const std::wstring& windowClass, const std::wstring& text) {
  Showing search{&windowClass, &text, nullptr};
  EnumWindows(MatchShowing, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Written beside and renamed, so that a reader never sees half of it.
bool WriteFileWhole(const std::wstring& path, const std::string& bytes) {
  HANDLE raw = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return false;
  Handle file(raw);
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool WriteResult(const std::wstring& path, int step, bool held, bool visible) {
  const std::wstring partial = path + L".partial";
  const std::string json = "{\"step\": " + std::to_string(step) +
                           ", \"held\": " + (held ? "true" : "false") +
                           ", \"visible\": " + (visible ? "true" : "false") + "}\n";
  if (!WriteFileWhole(partial, json)) return false;
  return MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// Puts what the program has painted so far on screen: a thread of the program that waits for
// messages does that on its way into the wait. It is then woken with a message and ends.
// user32 lies at the same address in every process of the session.
DWORD WINAPI FlushPaintingOf(void* processIdAsPointer) {
  const auto processId = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(processIdAsPointer));
  auto* waitMessage = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "WaitMessage")));
  Handle process(OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                 PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ,
                             FALSE, processId));
  if (!waitMessage || !process.get()) return 1;
  DWORD threadId = 0;
  Handle thread(CreateRemoteThread(process.get(), nullptr, 0, waitMessage, nullptr, 0, &threadId));
  if (!thread.get()) return 1;
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (WaitForSingleObject(thread.get(), 20) == WAIT_OBJECT_0) break;
    PostThreadMessageW(threadId, WM_NULL, 0, 0);
  }
  return 0;
}

// Starting a thread in a program whose threads are all frozen can block until they run again:
// give it a moment, and leave it behind when it takes longer.
void FlushPainting(DWORD processId) {
  Handle helper(CreateThread(nullptr, 0, FlushPaintingOf,
                             reinterpret_cast<void*>(static_cast<UINT_PTR>(processId)), 0,
                             nullptr));
  if (helper.get()) WaitForSingleObject(helper.get(), 1500);
}

void Touch(const std::wstring& path) {
  WriteFileWhole(path, std::string());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 6) {
    std::fputs("usage: vanto-demo-hold OUT <class> <text> <timeoutMs> <holdMs>\n", stderr);
    return 2;
  }
  const std::wstring out = argv[1], windowClass = argv[2], text = argv[3];
  const DWORD timeoutMs = wcstoul(argv[4], nullptr, 10), holdMs = wcstoul(argv[5], nullptr, 10);
  constexpr DWORD kStepMs = 1;

  Touch(out + L".ready");
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  // The state to catch may last only milliseconds: poll without sleeping, yielding the core.
  while (!(window = FindShowing(windowClass, text))) {
    if (GetTickCount() - start > timeoutMs) {
      WriteResult(out, 0, false, false);
      return 1;
    }
    Sleep(0);
  }
  DWORD processId = 0;
  Handle thread(
      OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(window, &processId)));
  bool held = thread.get() && SuspendThread(thread.get()) != static_cast<DWORD>(-1);
  int step = 0;
  for (;;) {
    // Between the look and the suspension the program may have moved on.
    const bool visible = IsWindow(window) && IsWindowVisible(window) && Shows(window, text);
    if (held && visible) FlushPainting(processId);
    WriteResult(out, step, held, visible);
    if (!held || !visible) break;
    const std::wstring next = out + L".step" + std::to_wstring(step + 1);
    const DWORD heldAt = GetTickCount();
    while (!Exists(next) && !Exists(out + L".release") && GetTickCount() - heldAt < holdMs)
      Sleep(10);
    if (!Exists(next)) break;
    ResumeThread(thread.get());
    Sleep(kStepMs);
    held = SuspendThread(thread.get()) != static_cast<DWORD>(-1);
    ++step;
  }
  if (held) ResumeThread(thread.get());
  return step > 0 || held ? 0 : 1;
}
