#include "app/os_error.h"

#include <windows.h>

#include <string>

#include "app/wide.h"

namespace vanto::app {

void RaiseLastOSError() {
  const DWORD code = GetLastError();
  wchar_t buffer[512] = {};
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  // The system's texts end in a period and a line break; the error box adds its own period.
  while (length > 0 && (buffer[length - 1] <= L' ' || buffer[length - 1] == L'.')) --length;
  std::wstring message = L"System error " + std::to_wstring(code);
  if (length > 0) message += L": " + std::wstring(buffer, length);
  throw EOSError(Utf16(message));
}

}  // namespace vanto::app
