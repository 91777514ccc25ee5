// The program's UTF-16 texts (char16_t) and the Windows API's (wchar_t) are the same code units.
#pragma once

#include <string>
#include <string_view>

namespace vanto::app {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows texts are UTF-16");

inline std::wstring Wide(std::u16string_view text) {
  return {text.begin(), text.end()};
}
inline std::u16string Utf16(std::wstring_view text) {
  return {text.begin(), text.end()};
}

}  // namespace vanto::app
