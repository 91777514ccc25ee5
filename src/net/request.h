// The bytes of the one GET request sent for a download.
#pragma once

#include <string>

#include "net/url.h"

namespace vanto::net {

// "Host" value: the host (an IPv6 literal in brackets) and ":" port unless the port is the
// scheme's default written as such; every unit beyond printable ASCII is "?".
std::string HostHeaderValue(const ParsedUrl& url);
// The whole request: request line, the four headers, the empty line. One line per CR LF; nothing
// a URL holds can add a line.
std::string BuildRequest(const ParsedUrl& url);

}  // namespace vanto::net
