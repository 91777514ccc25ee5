// The 7-bit text of request and response heads.
#pragma once

#include <string>
#include <string_view>

namespace vanto::net {

// Every unit above U+007F, and every control character (DEL included), becomes "?": nothing a URL
// holds can break a header line.
std::string ToWireAscii(std::u16string_view text);
// Every byte above 0x7F reads as "?".
std::u16string FromWireAscii(std::string_view bytes);
// ASCII letters in lower case; other bytes unchanged.
std::string LowerAscii(std::string_view text);
std::u16string LowerAscii(std::u16string_view text);
// Without the leading and trailing blanks and control characters.
std::string_view TrimBlanks(std::string_view text);
std::u16string_view TrimBlanks(std::u16string_view text);

}  // namespace vanto::net
