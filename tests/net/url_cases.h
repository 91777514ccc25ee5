// URLs as the download meets them, one line a case: split into a request, or refused before
// any connection. "{h}" and "{p}" stand for a host and ":" with a port: "h" and ":80" where a URL
// is only split, the scripted server's where it is fetched.
#pragma once

#include <span>
#include <string>

namespace vanto::test {

struct UrlCase {
  const char16_t* url;
  const char* requestLine;  // without CR LF
  const char* host;         // the Host value
  int port;
  bool ipv6;
};

struct RefusedUrlCase {
  const char16_t* url;
  const char* kind;
  const char16_t* message;
};

std::span<const UrlCase> UrlCases();
// The checks run in a fixed order: protocol, TLS, host, port.
std::span<const RefusedUrlCase> RefusedUrlCases();

// Whether the URL names the place of a server, so that it can be fetched from one.
bool NamesAServer(const std::u16string& url);
// `url` with {h} as `host` and {p} as ":" `port`.
std::u16string WithServer(const std::u16string& url, const std::u16string& host, int port);
// As a URL that is only split sees it.
inline std::u16string Split(const char16_t* url) {
  return WithServer(url, u"h", 80);
}

}  // namespace vanto::test
