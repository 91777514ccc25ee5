// URL splitting and the request built from it: one line per case.
#include <gtest/gtest.h>

#include <string>

#include "net/errors.h"
#include "net/request.h"
#include "net/url.h"
#include "platform/utf.h"

namespace vanto::net {
namespace {

struct RequestCase {
  const char16_t* url;
  const char* requestLine;  // without CR LF
  const char* host;         // the Host value
  int port;
  bool ipv6;
};

const RequestCase kRequestCases[] = {
    {u"http://example.test/file.txt", "GET /file.txt HTTP/1.1", "example.test", 80, false},
    {u"HTTP://Example.Test/a.ini", "GET /a.ini HTTP/1.1", "Example.Test", 80, false},
    {u"hTtP://h/a", "GET /a HTTP/1.1", "h", 80, false},
    {u"http://h:80/a", "GET /a HTTP/1.1", "h", 80, false},
    {u"http://h:8080/a", "GET /a HTTP/1.1", "h:8080", 8080, false},
    {u"http://h:080/a", "GET /a HTTP/1.1", "h:080", 80, false},
    {u"http://h: 8080 /a", "GET /a HTTP/1.1", "h: 8080 ", 8080, false},
    {u"http://h:abc/a", "GET /a HTTP/1.1", "h:abc", 80, false},
    {u"http://h:99999/a", "GET /a HTTP/1.1", "h:99999", 80, false},
    {u"http://h:/a", "GET /a HTTP/1.1", "h", 80, false},
    {u"http://h", "GET / HTTP/1.1", "h", 80, false},
    {u"http://h/", "GET / HTTP/1.1", "h", 80, false},
    {u"http://h/dir/", "GET /dir/ HTTP/1.1", "h", 80, false},
    {u"http://h/dir\\sub\\f.exe", "GET /dir/sub/f.exe HTTP/1.1", "h", 80, false},
    {u"http://h\\dir\\f.exe", "GET /dir/f.exe HTTP/1.1", "h", 80, false},
    {u"http://h/a/./b/../c.txt", "GET /a/./b/../c.txt HTTP/1.1", "h", 80, false},
    {u"http://h/f.txt#frag", "GET /f.txt HTTP/1.1", "h", 80, false},
    {u"http://h/a#x/b.txt", "GET /a#x/b.txt HTTP/1.1", "h", 80, false},
    {u"http://h/f.txt?v=1#frag", "GET /f.txt?v=1#frag HTTP/1.1", "h", 80, false},
    {u"http://h/f.txt?", "GET /f.txt HTTP/1.1", "h", 80, false},
    {u"http://h?q=1", "GET /?q=1 HTTP/1.1", "h", 80, false},
    {u"http://h/f?a=b\\c/d", "GET /f?a=b\\c/d HTTP/1.1", "h", 80, false},
    {u"http://h/%41b%20.txt", "GET /%41b%20.txt HTTP/1.1", "h", 80, false},
    {u"http://h/a;b=c,d+e&f$'()*!~", "GET /a;b=c,d+e&f$'()*!~ HTTP/1.1", "h", 80, false},
    {u"http://h/my file.txt", "GET /my%20file.txt HTTP/1.1", "h", 80, false},
    {u"http://h/\uC5C5\uB370\uC774\uD2B8.exe",
     "GET /%EC%97%85%EB%8D%B0%EC%9D%B4%ED%8A%B8.exe HTTP/1.1", "h", 80, false},
    {u"http://h/f?name=\uD55C \uAE00", "GET /f?name=%ED%95%9C%20%EA%B8%80 HTTP/1.1", "h", 80,
     false},
    {u"http://h/\U0001F600", "GET /%F0%9F%98%80 HTTP/1.1", "h", 80, false},
    {u"http://h/a\tb\x7F\x01.txt", "GET /a%09b%7F%01.txt HTTP/1.1", "h", 80, false},
    {u"http://h/a\r\nX-Evil: 1", "GET /a%0D%0AX-Evil:%201 HTTP/1.1", "h", 80, false},
    {u"http://user:secret@h/f", "GET /f HTTP/1.1", "h", 80, false},
    {u"http://a@b@h:81/f", "GET /f HTTP/1.1", "b@h:81", 81, false},
    {u"http://h/f?mail=a@b", "GET /f?mail=a@b HTTP/1.1", "h", 80, false},
    {u"http://[::1]:8080/f", "GET /f HTTP/1.1", "[::1]:8080", 8080, true},
    {u"http://[::1]/f", "GET /f HTTP/1.1", "[::1]", 80, true},
    {u"ftp://h:21/f", "GET /f HTTP/1.1", "h:21", 21, false},
    {u"gopher://h:8080/", "GET / HTTP/1.1", "h:8080", 8080, false},
    {u"http://\uD638\uC2A4\uD2B8/f", "GET /f HTTP/1.1", "???", 80, false},
    {u"http://h\r\nX: y/f", "GET /f HTTP/1.1", "h??X: y", 80, false},
};

TEST(Request, LineHostAndPortPerUrl) {
  for (const RequestCase& c : kRequestCases) {
    SCOPED_TRACE(platform::Utf16ToUtf8(c.url));
    const ParsedUrl url = SplitUrl(c.url);
    const std::string request = BuildRequest(url);
    EXPECT_EQ(std::string(c.requestLine) + "\r\n", request.substr(0, request.find('\n') + 1));
    EXPECT_EQ(c.host, HostHeaderValue(url));
    EXPECT_EQ(c.port, url.port);
    EXPECT_EQ(c.ipv6, url.ipv6);
    // Every line of the request is printable ASCII, whatever the URL held.
    size_t lines = 0;
    for (size_t at = 0; at < request.size(); ++lines) {
      const size_t end = request.find("\r\n", at);
      ASSERT_NE(std::string::npos, end);
      for (size_t i = at; i < end; ++i) {
        EXPECT_TRUE(request[i] >= 0x20 && request[i] < 0x7F) << "byte " << i;
      }
      at = end + 2;
    }
    EXPECT_EQ(6u, lines);
  }
}

TEST(Request, HasExactlyTheFourHeaders) {
  EXPECT_EQ(
      "GET /vanto/info.ini HTTP/1.1\r\n"
      "Host: server.test:8080\r\n"
      "Accept: text/html, */*\r\n"
      "Accept-Encoding: identity\r\n"
      "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
      "\r\n",
      BuildRequest(SplitUrl(u"http://server.test:8080/vanto/info.ini")));
}

struct RefusedCase {
  const char16_t* url;
  const char* kind;
  const char16_t* message;
};

// The checks run in a fixed order: protocol, TLS, host, port.
const RefusedCase kRefusedCases[] = {
    {u"", "EIdUnknownProtocol", u"Unknown Protocol"},
    {u"server/file.txt", "EIdUnknownProtocol", u"Unknown Protocol"},
    {u"http:/h/f", "EIdUnknownProtocol", u"Unknown Protocol"},
    {u"http:\\\\h\\f", "EIdUnknownProtocol", u"Unknown Protocol"},
    {u"ftp://h/f", "EIdUnknownProtocol", u"Unknown Protocol"},
    {u"ftp://h:/f", "EIdUnknownProtocol", u"Unknown Protocol"},
    {u"ftp://", "EIdUnknownProtocol", u"Unknown Protocol"},
    {u"https://h/f", "EIdIOHandlerPropInvalid", u"IOHandler value is not valid"},
    {u"HTTPS://h/f", "EIdIOHandlerPropInvalid", u"IOHandler value is not valid"},
    {u"https://h:8443/f", "EIdIOHandlerPropInvalid", u"IOHandler value is not valid"},
    {u"https://:0/", "EIdIOHandlerPropInvalid", u"IOHandler value is not valid"},
    {u"http:///f", "EIdHostRequired", u""},
    {u"http://:8080/f", "EIdHostRequired", u""},
    {u"http://user@/f", "EIdHostRequired", u""},
    {u"http://[]:80/f", "EIdHostRequired", u""},
    {u"http://:0/f", "EIdHostRequired", u""},
    {u"http://h:0/f", "EIdPortRequired", u""},
    {u"http://h:000/f", "EIdPortRequired", u""},
    {u"ftp://h:0/f", "EIdPortRequired", u""},
};

TEST(Request, RefusedUrls) {
  for (const RefusedCase& c : kRefusedCases) {
    SCOPED_TRACE(platform::Utf16ToUtf8(c.url));
    try {
      SplitUrl(c.url);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(c.kind, e.Kind());
      EXPECT_EQ(platform::Utf16ToUtf8(c.message), platform::Utf16ToUtf8(e.Message()));
    }
  }
}

}  // namespace
}  // namespace vanto::net
