// Whether the test runs under Wine, and which, for the few behaviours where Wine differs from
// Windows.
#pragma once

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vanto::test {

// The major version of the Wine the test runs under; 0 when it runs on no Wine.
inline int WineMajorVersion() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return 0;
  using VersionFunction = const char*(__cdecl*)();
  const FARPROC found = GetProcAddress(ntdll, "wine_get_version");
  const auto version = reinterpret_cast<VersionFunction>(reinterpret_cast<void (*)()>(found));
  return version == nullptr ? 0 : std::atoi(version());
#else
  return 0;
#endif
}

inline bool RunningUnderWine() {
  return WineMajorVersion() != 0;
}

// Wine 8's receive reports a connection that the peer reset as closed in an orderly way, even
// when a native Linux server sent the reset; Wine 10 reports error 10054 as Windows does.
// Wine 8 reports a connection reset by the peer as an orderly close, always; Wine 10 does so now
// and then, when the reset comes right behind the last bytes. A reset row there may fail either
// way, and a run in which any did not show the reset's own error counts as skipped.
inline bool MayReportResetsAsCloses() {
  return RunningUnderWine();
}
inline constexpr char kResetsAsClosesReason[] =
    "this Wine reported a connection reset by the peer as an orderly close: the failure and the "
    "older file were checked, the reset's own error was not";

}  // namespace vanto::test
