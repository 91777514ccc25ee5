#include "net/request.h"

#include "net/ascii.h"
#include "net/percent.h"

namespace vanto::net {

std::string HostHeaderValue(const ParsedUrl& url) {
  std::u16string host = url.ipv6 ? u"[" + url.host + u"]" : url.host;
  const std::u16string scheme = LowerAscii(url.scheme);
  // Texts are compared, not numbers: a port written "080" stays on the line.
  const bool defaultPort = (scheme == u"http" && url.portText == u"80") ||
                           (scheme == u"https" && url.portText == u"443");
  if (!defaultPort) host += u":" + url.portText;
  return ToWireAscii(host);
}

std::string BuildRequest(const ParsedUrl& url) {
  std::string request = "GET " + PercentEncodeTarget(url.Target()) + " HTTP/1.1\r\n";
  request += "Host: " + HostHeaderValue(url) + "\r\n";
  request += "Accept: text/html, */*\r\n";
  request += "Accept-Encoding: identity\r\n";
  request += "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
  request += "\r\n";
  return request;
}

}  // namespace vanto::net
