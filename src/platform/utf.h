// Conversions between the UTF-16 texts of the program and the UTF-8 of Linux and of tools' output.
#pragma once

#include <string>
#include <string_view>

namespace vanto::platform {

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace vanto::platform
