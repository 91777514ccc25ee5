// vanto-probe: looks at and drives the windows of other processes in the same Wine session, for the
// end-to-end driver. Results go as UTF-8 JSON to a file named on the command line, because the
// stdout pipe of a Wine process is not reliable to read from.
//
//   vanto-probe OUT wait <class> [caption] <timeoutMs>   a visible top-level window of that class
//   vanto-probe OUT wait-gone <class> <timeoutMs>        no visible top-level window of that class
//   vanto-probe OUT dump                                 every top-level window of other processes
//   vanto-probe OUT key <class> enter|space              keystroke to the focused control
//   vanto-probe OUT type enter|space                     keystroke as from the keyboard
//                                                        (SendInput, to the foreground window)
//   vanto-probe OUT close <class>                        WM_CLOSE to the window
//   vanto-probe OUT start <showCmd> <timeoutMs> <exe>    runs the program with that show
//       command in its start-up information, waits for it and ends with its exit code
//   vanto-probe OUT press-ok [timeoutMs]                 confirm the OK button of a dialog box
//   vanto-probe OUT workarea                             the primary work area
//   vanto-probe OUT program-files                        the program-files folder of a program
//                                                        built like this one (WoW64 redirects)
//   vanto-probe OUT hold-file <path> <releaseFile> <timeoutMs>
//       keeps the file open without sharing, as a running installer holds its own file, until
//       the release file exists or the time is up; OUT is written once the file is held
//   vanto-probe OUT watch <stopFile> <timeoutMs> <class>...
//       records every distinct state of the top-level windows of those classes (visibility,
//       caption, children's texts) until the stop file exists or the time is up; the class "*"
//       stands for every visible window. A hook (vanto-probe-hook.dll, beside the probe) makes a
//       window of a named class wait after each change of its texts or visibility until it has
//       been recorded, so that no state is missed however briefly it stands. OUT.ready is written
//       once the hook is set; exit code 3 when it cannot be
//
// Exit code 0 on success, 1 when the condition was not met or the window was missing, 2 on usage.
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "probe_json.h"
#include "probe_state.h"
#include "probe_watch_share.h"
#include "probe_windows.h"

using namespace vanto::probe;

namespace {

void PostKey(HWND target, WPARAM vk, wchar_t ch) {
  UINT scan = MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC);
  LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
  LPARAM up = down | (1LL << 30) | (1LL << 31);
  PostMessageW(target, WM_KEYDOWN, vk, down);
  PostMessageW(target, WM_CHAR, ch, down);
  PostMessageW(target, WM_KEYUP, vk, up);
}

bool WriteFile(const std::wstring& path, const std::string& content) {
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (!out) return false;
  std::fwrite(content.data(), 1, content.size(), out);
  std::fwrite("\n", 1, 1, out);
  return std::fclose(out) == 0;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The hook library beside this program, set for every thread of the session.
HHOOK SetWatchHook() {
  wchar_t self[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(self, length);
  path = path.substr(0, path.find_last_of(L'\\') + 1) + kHookLibrary;
  HMODULE library = LoadLibraryW(path.c_str());
  if (library == nullptr) return nullptr;
  auto procedure =
      reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(library, kHookProcedure)));
  if (procedure == nullptr) return nullptr;
  return SetWindowsHookExW(WH_CALLWNDPROCRET, procedure, library, 0);
}

constexpr DWORD kLastTeardownMs = 3000;

bool NamedWindowLeft(const std::vector<std::wstring>& classes) {
  for (HWND hwnd : TopLevelWindows()) {
    const std::wstring name = ClassOf(hwnd);
    for (const std::wstring& c : classes) {
      if (c != L"*" && c == name) return true;
    }
  }
  return false;
}

int Watch(const std::wstring& out, const std::wstring& stopFile, DWORD timeout,
          const std::vector<std::wstring>& classes) {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(WatchShare), kWatchShareName);
  // A share that outlived its watcher (a program of an earlier case still holds it) keeps its
  // count of polls: a new one starts at zero.
  auto* share = mapping ? static_cast<WatchShare*>(
                              MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(WatchShare)))
                        : nullptr;
  HHOOK hook = nullptr;
  if (share != nullptr) {
    std::wstring listed;
    for (const std::wstring& c : classes) {
      if (c != L"*") listed += c + L"\n";
    }
    if (listed.size() < sizeof share->classes / sizeof(wchar_t)) {
      listed.copy(share->classes, listed.size());
      share->classes[listed.size()] = L'\0';
      share->watching = 1;
      share->watcher = GetCurrentProcessId();
      hook = SetWatchHook();
    }
  }
  if (hook == nullptr) {
    WriteFile(out,
              "{\"ok\": false, \"error\": \"no hook: " + std::to_string(GetLastError()) + "\"}");
    return 3;
  }
  WriteFile(out + L".ready", "{\"ok\": true}");
  const LONG giveUpsBefore = share->giveUps;

  DWORD start = GetTickCount();
  std::string states;
  std::string last;
  bool stopped = false;
  DWORD stoppedAt = 0;
  unsigned long polls = 0;
  while (GetTickCount() - start < timeout) {
    std::string state = WatchedState(classes);
    ++polls;
    if (state != last) {
      states += states.empty() ? "\n  " : ",\n  ";
      states +=
          "{\"t\": " + std::to_string(GetTickCount() - start) + ", \"windows\": " + state + "}";
      last = state;
    }
    InterlockedIncrement(&share->polls);
    if (!stopped && polls % 8 == 0 && FileExists(stopFile)) {
      stopped = true;
      stoppedAt = GetTickCount();
    }
    // The stop file comes once the program has ended, but Wine may take its windows down a
    // moment later: the recording goes on until they are gone, so that it ends on a state that
    // shows them gone.
    if (stopped && (!NamedWindowLeft(classes) || GetTickCount() - stoppedAt > kLastTeardownMs)) {
      break;
    }
    Sleep(1);
  }
  share->watching = 0;
  const LONG giveUps = share->giveUps - giveUpsBefore;
  UnhookWindowsHookEx(hook);
  UnmapViewOfFile(share);
  CloseHandle(mapping);
  WriteFile(out, std::string("{\"ok\": ") + (stopped ? "true" : "false") + ", \"polls\": " +
                     std::to_string(polls) + ", \"gave_up\": " + std::to_string(giveUps) +
                     ", \"ms\": " + std::to_string(GetTickCount() - start) + ", \"states\": [" +
                     states + "\n]}");
  return stopped ? 0 : 1;
}

std::string Result(bool ok, const std::string& detail) {
  return std::string("{\"ok\": ") + (ok ? "true" : "false") + ", " + detail + "}";
}

int Usage() {
  std::fputs(
      "usage: vanto-probe OUT wait|wait-gone|dump|key|type|close|start|press-ok|workarea|"
      "program-files|hold-file|watch "
      "...\n",
      stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring out = argv[1];
  const std::wstring command = argv[2];
  std::vector<std::wstring> args(argv + 3, argv + argc);

  if (command == L"dump") return WriteFile(out, DumpJson()) ? 0 : 1;
  if (command == L"workarea") return WriteFile(out, WorkAreaJson()) ? 0 : 1;
  if (command == L"program-files") {
    wchar_t folder[MAX_PATH] = {};
    bool ok = SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder));
    WriteFile(out, Result(ok, "\"folder\": " + JsonString(folder)));
    return ok ? 0 : 1;
  }

  if (command == L"hold-file" && args.size() == 3) {
    HANDLE held = CreateFileW(args[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
      WriteFile(out, Result(false, "\"error\": " + std::to_string(GetLastError())));
      return 1;
    }
    WriteFile(out, Result(true, "\"held\": " + JsonString(args[0])));
    const DWORD timeout = static_cast<DWORD>(_wtoi(args[2].c_str()));
    const DWORD start = GetTickCount();
    while (GetFileAttributesW(args[1].c_str()) == INVALID_FILE_ATTRIBUTES &&
           GetTickCount() - start < timeout)
      Sleep(50);
    CloseHandle(held);
    return 0;
  }

  if (command == L"watch" && args.size() >= 3) {
    std::vector<std::wstring> classes(args.begin() + 2, args.end());
    return Watch(out, args[0], static_cast<DWORD>(_wtoi(args[1].c_str())), classes);
  }

  if (command == L"wait" && (args.size() == 2 || args.size() == 3)) {
    const std::wstring* caption = args.size() == 3 ? &args[1] : nullptr;
    DWORD timeout = static_cast<DWORD>(_wtoi(args.back().c_str()));
    DWORD start = GetTickCount();
    HWND found = nullptr;
    while (!(found = FindVisible(args[0], caption)) && GetTickCount() - start < timeout) Sleep(50);
    WriteFile(out, Result(found != nullptr,
                          "\"window\": " + (found ? WindowJson(found) : std::string("null"))));
    return found ? 0 : 1;
  }

  if (command == L"wait-gone" && args.size() == 2) {
    DWORD timeout = static_cast<DWORD>(_wtoi(args[1].c_str()));
    DWORD start = GetTickCount();
    bool gone = false;
    while (!(gone = FindVisible(args[0], nullptr) == nullptr) && GetTickCount() - start < timeout)
      Sleep(50);
    WriteFile(out, Result(gone, "\"class\": " + JsonString(args[0])));
    return gone ? 0 : 1;
  }

  if (command == L"key" && args.size() == 2) {
    HWND top = FindVisible(args[0], nullptr);
    bool known = args[1] == L"enter" || args[1] == L"space";
    if (!top || !known) {
      WriteFile(out, Result(false, "\"error\": \"no such window or key\""));
      return 1;
    }
    HWND target = FocusedControl(top);
    if (args[1] == L"enter")
      PostKey(target, VK_RETURN, L'\r');
    else
      PostKey(target, VK_SPACE, L' ');
    WriteFile(out, Result(true, "\"target\": " + ChildJson(target)));
    return 0;
  }

  if (command == L"type" && args.size() == 1 && (args[0] == L"enter" || args[0] == L"space")) {
    WORD vk = args[0] == L"enter" ? VK_RETURN : VK_SPACE;
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) {
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = vk;
      input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    }
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    // Wine now and then refuses input for a moment while the foreground window changes, as it
    // does when a box closes and its owner takes the focus back: try again before giving up.
    UINT sent = 0;
    for (int attempt = 0; attempt < 20 && sent != 2; ++attempt) {
      if (attempt > 0) Sleep(100);
      sent = SendInput(2, inputs, sizeof(INPUT));
    }
    HWND foreground = GetForegroundWindow();
    WriteFile(out, Result(sent == 2, "\"foreground\": " + (foreground ? WindowJson(foreground)
                                                                      : std::string("null"))));
    return sent == 2 ? 0 : 1;
  }

  if (command == L"start" && args.size() == 3) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(_wtoi(args[0].c_str()));
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + args[2] + L"\"";
    if (!CreateProcessW(args[2].c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
      WriteFile(out, Result(false, "\"error\": " + std::to_string(GetLastError())));
      return 1;
    }
    CloseHandle(process.hThread);
    DWORD waited =
        WaitForSingleObject(process.hProcess, static_cast<DWORD>(_wtoi(args[1].c_str())));
    DWORD code = 1;
    if (waited == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    WriteFile(out, Result(waited == WAIT_OBJECT_0, "\"exit_code\": " + std::to_string(code)));
    return waited == WAIT_OBJECT_0 ? static_cast<int>(code) : 1;
  }

  if (command == L"close" && args.size() == 1) {
    HWND top = FindVisible(args[0], nullptr);
    if (top) PostMessageW(top, WM_CLOSE, 0, 0);
    WriteFile(out, Result(top != nullptr, "\"class\": " + JsonString(args[0])));
    return top ? 0 : 1;
  }

  if (command == L"press-ok" && args.size() <= 1) {
    DWORD timeout = args.empty() ? 0 : static_cast<DWORD>(_wtoi(args[0].c_str()));
    DWORD start = GetTickCount();
    HWND dialog = nullptr;
    while (!(dialog = FindVisible(L"#32770", nullptr)) && GetTickCount() - start < timeout)
      Sleep(50);
    if (!dialog) {
      WriteFile(out, Result(false, "\"error\": \"no dialog box\""));
      return 1;
    }
    std::string before = WindowJson(dialog);
    // A task dialog draws its buttons inside a child window of its own: the button may sit one
    // level down, which EnumChildWindows already covers; without any button, IDOK still works.
    HWND button = OkButton(dialog);
    if (button)
      PostMessageW(button, BM_CLICK, 0, 0);
    else
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WriteFile(out, Result(true, "\"dialog\": " + before));
    return 0;
  }

  return Usage();
}
