// The messages of socket failures, the same on every platform.
#pragma once

#include <string>

namespace vanto::net {

// "Socket Error # <number>\r\n<text>"; a number without a text of its own gets an empty one.
std::u16string SocketErrorMessage(int error);
// Raises EIdSocketError, or EIdNotASocket for 10038.
[[noreturn]] void ThrowSocketError(int error);

}  // namespace vanto::net
