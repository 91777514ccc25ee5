// Percent-encoding of the request target.
#pragma once

#include <string>
#include <string_view>

namespace vanto::net {

// Spaces, control characters (DEL included) and everything beyond ASCII become their UTF-8 bytes
// as "%XX" (upper-case hex); an unpaired surrogate counts as U+FFFD. Every other character, an
// existing escape like "%41" and the reserved characters included, is kept, so a target that was
// already encoded goes out as it was.
std::string PercentEncodeTarget(std::u16string_view target);

}  // namespace vanto::net
