// The stack protector's guard and failure handlers for every Windows program, in place of libssp's.
// libssp seeds its guard at start-up through the old CryptoAPI, which loads a cryptographic
// provider and costs each run about 10 MiB of memory; the system's preferred generator of CNG,
// which the signature check loads anyway, costs nothing more (bcrypt.dll is no KnownDLL: it is
// loaded from the system folder by name, never imported). The fortified copies (__memcpy_chk,
// ...) still come from libssp and fail through __chk_fail below.
//
// This file is built without the stack protector: the function that sets the guard must not be
// checked against the value it replaces.
#include <windows.h>
// after windows.h, whose types it uses
#include <bcrypt.h>

#include <cstdint>

#include "platform/win32/system_library.h"

extern "C" {

void* __stack_chk_guard = nullptr;

// A smashed stack or an overflowing checked copy ends the process at once, with the status that
// Windows' own stack checks use, so that nothing more runs on a corrupted stack.
[[noreturn]] void __stack_chk_fail() {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
  __builtin_trap();
}

[[noreturn]] void __chk_fail() {
  __stack_chk_fail();
}

}  // extern "C"

namespace {

// Runs among the start-up constructors (mingw runs them from the end of the list, this one late):
// a checked constructor that runs before it is checked against the zero guard, which weakens that
// one check but cannot fail it, as none is still running when the guard changes. Everything from
// main on is checked against the seeded guard.
__attribute__((constructor)) void SeedStackGuard() {
  std::uintptr_t guard = 0;
  const vanto::platform::SystemLibrary cng(L"bcrypt.dll");
  auto generate = cng.Find<decltype(&BCryptGenRandom)>("BCryptGenRandom");
  if (generate == nullptr ||
      !BCRYPT_SUCCESS(generate(nullptr, reinterpret_cast<PUCHAR>(&guard), sizeof guard,
                               BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    // No generator: what differs from run to run still beats a guard anyone can know.
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    guard = static_cast<std::uintptr_t>(counter.QuadPart) ^ GetCurrentProcessId() ^
            reinterpret_cast<std::uintptr_t>(&guard);
  }
  // A zero byte first, as libssp's own: a string copy that runs over stops short of the rest.
  guard &= ~static_cast<std::uintptr_t>(0xFF);
  if (guard == 0) guard = 0xFF0A0D00;
  __stack_chk_guard = reinterpret_cast<void*>(guard);
}

}  // namespace
