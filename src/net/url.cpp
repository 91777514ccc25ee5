#include "net/url.h"

#include <algorithm>

#include "net/ascii.h"
#include "net/errors.h"

namespace vanto::net {
namespace {

constexpr size_t npos = std::u16string::npos;

// Windows users type backslashes; they mean slashes everywhere before the query or fragment.
// The two characters right after the scheme's ":" are left alone, so "http:\\host" is still not a
// URL with a scheme and a host.
std::u16string SlashesForBackslashes(std::u16string url) {
  size_t from = url.find(u':');
  if (from == npos) {
    from = 0;
  } else {
    ++from;
    auto isSlash = [&](size_t at) {
      return at < url.size() && (url[at] == u'/' || url[at] == u'\\');
    };
    if (isSlash(from) && isSlash(from + 1)) from += 2;
  }
  const size_t to = std::min(url.find_first_of(u"?#"), url.size());
  for (size_t i = from; i < to; ++i) {
    if (url[i] == u'\\') url[i] = u'/';
  }
  return url;
}

// Decimal digits only, within the port range; anything else is not a number.
bool ParsePort(std::u16string_view text, std::uint32_t& port) {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  std::uint32_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + static_cast<std::uint32_t>(c - u'0');
    if (value > 65535) return false;
  }
  port = value;
  return true;
}

}  // namespace

std::u16string ParsedUrl::Target() const {
  std::u16string target = path + document;
  if (!query.empty()) target += u"?" + query;
  return target;
}

ParsedUrl SplitUrl(std::u16string_view original) {
  const std::u16string url = SlashesForBackslashes(std::u16string(original));
  const size_t schemeEnd = url.find(u"://");
  if (schemeEnd == npos) throw EIdUnknownProtocol(u"Unknown Protocol");

  ParsedUrl parsed;
  parsed.scheme = url.substr(0, schemeEnd);
  std::u16string_view rest(url);
  rest.remove_prefix(schemeEnd + 3);
  if (size_t q = rest.find(u'?'); q != npos) {
    parsed.query = std::u16string(rest.substr(q + 1));
    rest = rest.substr(0, q);
  }
  std::u16string_view authority = rest;
  std::u16string_view pathPart;
  if (size_t slash = rest.find(u'/'); slash != npos) {
    authority = rest.substr(0, slash);
    pathPart = rest.substr(slash + 1);
  }

  // User information is never sent: it ends at the first "@".
  if (size_t at = authority.find(u'@'); at != npos) authority.remove_prefix(at + 1);
  std::u16string_view portText;
  bool explicitPort = false;
  if (!authority.empty() && authority.front() == u'[' && authority.find(u']') != npos) {
    const size_t close = authority.find(u']');
    parsed.host = std::u16string(authority.substr(1, close - 1));
    parsed.ipv6 = true;
    if (size_t colon = authority.find(u':', close); colon != npos) {
      portText = authority.substr(colon + 1);
      explicitPort = true;
    }
  } else if (size_t colon = authority.find(u':'); colon != npos) {
    parsed.host = std::u16string(authority.substr(0, colon));
    portText = authority.substr(colon + 1);
    explicitPort = true;
  } else {
    parsed.host = std::u16string(authority);
  }

  const std::u16string scheme = LowerAscii(parsed.scheme);
  if (explicitPort && !portText.empty()) {
    parsed.portText = std::u16string(portText);
  } else if (scheme == u"http") {
    parsed.portText = u"80";
  } else if (scheme == u"https") {
    parsed.portText = u"443";
  } else {
    throw EIdUnknownProtocol(u"Unknown Protocol");
  }
  if (scheme == u"https") throw EIdIOHandlerPropInvalid(u"IOHandler value is not valid");
  if (parsed.host.empty()) throw EIdHostRequired(u"");
  // A port text that is not a number (or is out of range) falls back to the HTTP port.
  std::uint32_t port = 80;
  if (!ParsePort(parsed.portText, port)) port = 80;
  if (port == 0) throw EIdPortRequired(u"");
  parsed.port = static_cast<std::uint16_t>(port);

  if (size_t lastSlash = pathPart.rfind(u'/'); lastSlash != npos) {
    parsed.path = u"/" + std::u16string(pathPart.substr(0, lastSlash + 1));
    pathPart.remove_prefix(lastSlash + 1);
  } else {
    parsed.path = u"/";
  }
  parsed.document = std::u16string(pathPart.substr(0, pathPart.find(u'#')));
  return parsed;
}

}  // namespace vanto::net
