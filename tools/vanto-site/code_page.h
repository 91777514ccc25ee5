// The text of bytes in a Windows ANSI code page, as a Windows of that code page reads a file that
// has no byte-order mark.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto::site {

// The text as Windows' own conversion gives it: in a double-byte code page a lead byte takes the
// byte after it unless that is a zero, and a pair (or a lone byte) that is no character becomes the
// code page's default character. Nothing when the platform does not know the code page.
std::optional<std::u16string> DecodeCodePage(std::string_view bytes, unsigned codePage);

}  // namespace vanto::site
