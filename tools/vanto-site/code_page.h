// The text of bytes in a Windows ANSI code page, as a Windows of that code page reads a file that
// has no byte-order mark.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto::site {

// The text, with U+FFFD for each byte that is no character of the code page; nothing when the
// platform does not know the code page.
std::optional<std::u16string> DecodeCodePage(std::string_view bytes, unsigned codePage);

}  // namespace vanto::site
