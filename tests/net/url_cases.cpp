#include "net/url_cases.h"

namespace vanto::test {
namespace {

const UrlCase kUrlCases[] = {
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
    // Also fetched from the scripted server, whose host and port take the place of {h} and {p}.
    {u"HTTP://{h}{p}", "GET / HTTP/1.1", "h", 80, false},
    {u"http://LocalHost{p}/a/./b/../c.txt", "GET /a/./b/../c.txt HTTP/1.1", "LocalHost", 80, false},
    {u"ftp://{h}{p}/f.txt?x=1#y", "GET /f.txt?x=1#y HTTP/1.1", "h:80", 80, false},
    {u"http://user:pw@{h}{p}/my file.txt", "GET /my%20file.txt HTTP/1.1", "h", 80, false},
    {u"http://{h}{p}/\uC5C5\uB370\uC774\uD2B8.exe",
     "GET /%EC%97%85%EB%8D%B0%EC%9D%B4%ED%8A%B8.exe HTTP/1.1", "h", 80, false},
};

const RefusedUrlCase kRefusedUrlCases[] = {
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
    {u"https://{h}{p}/f", "EIdIOHandlerPropInvalid", u"IOHandler value is not valid"},
    {u"ftp://{h}/f", "EIdUnknownProtocol", u"Unknown Protocol"},
    {u"{h}{p}/f", "EIdUnknownProtocol", u"Unknown Protocol"},
    {u"http://{p}/f", "EIdHostRequired", u""},
    {u"http://{h}:0/f", "EIdPortRequired", u""},
};

void ReplaceAll(std::u16string& text, const std::u16string& what, const std::u16string& with) {
  for (size_t at = text.find(what); at != std::u16string::npos;
       at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
}

}  // namespace

std::span<const UrlCase> UrlCases() {
  return kUrlCases;
}

std::span<const RefusedUrlCase> RefusedUrlCases() {
  return kRefusedUrlCases;
}

bool NamesAServer(const std::u16string& url) {
  return url.find(u"{p}") != std::u16string::npos;
}

std::u16string WithServer(const std::u16string& url, const std::u16string& host, int port) {
  std::u16string out = url;
  ReplaceAll(out, u"{h}", host);
  const std::string digits = std::to_string(port);
  ReplaceAll(out, u"{p}", u":" + std::u16string(digits.begin(), digits.end()));
  return out;
}

}  // namespace vanto::test
