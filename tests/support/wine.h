// Whether the test runs under Wine, for the few behaviours where Wine differs from Windows.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace vanto::test {

inline bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace vanto::test
