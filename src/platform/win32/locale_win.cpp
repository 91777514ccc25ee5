#include "platform/win32/locale_win.h"

#include <windows.h>

namespace vanto::platform {

char16_t UserDecimalSeparator() {
  // The setting holds at most four characters with its NUL.
  wchar_t separator[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) == 0 ||
      separator[0] == L'\0') {
    return u'.';
  }
  return static_cast<char16_t>(separator[0]);
}

}  // namespace vanto::platform
