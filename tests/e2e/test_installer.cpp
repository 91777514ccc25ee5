// vanto-test-installer: stands in for a real installer in the end-to-end runs. Started by the shell
// through the "open" verb, it adds a line to a marker next to itself (<exe>.ran: its command line
// in UTF-8, one line per start, so that a test can count the starts) and ends at once, without a
// window.
#include <windows.h>

#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t self[MAX_PATH * 4] = {};
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return 1;
  std::wstring marker = std::wstring(self, length) + L".ran";

  const wchar_t* commandLine = GetCommandLineW();
  const int units = static_cast<int>(wcslen(commandLine));
  int size = WideCharToMultiByte(CP_UTF8, 0, commandLine, units, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, commandLine, units, text.data(), size, nullptr, nullptr);
  text += '\n';

  HANDLE file = CreateFileW(marker.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok ? 0 : 1;
}
