// What the window watcher shares with its hook in the watched programs: the hook holds a watched
// window's change until the watcher has recorded the window as changed, so that no state, however
// short, slips between two polls.
#pragma once

#include <windows.h>

namespace vanto::probe {

inline constexpr wchar_t kWatchShareName[] = L"vanto-probe-watch";
inline constexpr wchar_t kHookLibrary[] = L"vanto-probe-hook.dll";
inline constexpr char kHookProcedure[] = "WatchHook";

struct WatchShare {
  // Polls the watcher has finished; a change is seen once two more have ended after it. Never
  // reset: a program still waiting on the watcher of an earlier case counts on.
  volatile LONG polls;
  // Changes that the hook stopped waiting on before the watcher had seen them: a case whose
  // watcher could not keep up has seen only what polling saw, and fails.
  volatile LONG giveUps;
  // Cleared when the watcher ends: nothing waits for it any longer.
  volatile LONG watching;
  // The watcher's own process, which must never wait for itself.
  DWORD watcher;
  // The watched window classes, each followed by a line feed.
  wchar_t classes[2048];
};

}  // namespace vanto::probe
