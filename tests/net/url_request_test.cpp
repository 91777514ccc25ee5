// URL splitting and the request built from it, for every row of the URL cases.
#include <gtest/gtest.h>

#include <string>

#include "net/errors.h"
#include "net/request.h"
#include "net/url.h"
#include "net/url_cases.h"
#include "platform/utf.h"

namespace vanto::net {
namespace {

TEST(Request, LineHostAndPortPerUrl) {
  for (const test::UrlCase& c : test::UrlCases()) {
    const std::u16string text = test::Split(c.url);
    SCOPED_TRACE(platform::Utf16ToUtf8(text));
    const ParsedUrl url = SplitUrl(text);
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

TEST(Request, RefusedUrls) {
  for (const test::RefusedUrlCase& c : test::RefusedUrlCases()) {
    const std::u16string text = test::Split(c.url);
    SCOPED_TRACE(platform::Utf16ToUtf8(text));
    try {
      SplitUrl(text);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(c.kind, e.Kind());
      EXPECT_EQ(platform::Utf16ToUtf8(c.message), platform::Utf16ToUtf8(e.Message()));
    }
  }
}

}  // namespace
}  // namespace vanto::net
