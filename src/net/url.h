// Splitting a download URL into what the request and the connection need.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vanto::net {

struct ParsedUrl {
  std::u16string scheme;    // as written
  std::u16string host;      // an IPv6 literal without its brackets
  bool ipv6 = false;        // the host was written in square brackets
  std::u16string portText;  // as written, or "80"/"443" when none was
  std::uint16_t port = 80;
  std::u16string path;      // "/" up to and including the last "/"
  std::u16string document;  // after the last "/", without any "#" fragment
  std::u16string query;     // after the first "?", kept whole ("#" included)

  // path + document, then "?" and the query when there is one.
  std::u16string Target() const;
};

// Raises EIdUnknownProtocol, EIdIOHandlerPropInvalid, EIdHostRequired or EIdPortRequired, checked
// in that order, before anything touches the network.
ParsedUrl SplitUrl(std::u16string_view url);

}  // namespace vanto::net
