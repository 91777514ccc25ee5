#include "app/error_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/errors.h"
#include "platform/utf.h"

namespace vanto::app {
namespace {

std::string Utf8(const std::u16string& text) {
  return platform::Utf16ToUtf8(text);
}

struct PeriodCase {
  const char16_t* text;
  const char16_t* shown;
};

// One line per last character; the error texts are those users actually meet.
constexpr PeriodCase kPeriodCases[] = {
    {u"", u""},
    {u"Stream write error", u"Stream write error."},
    {u"Connection Closed Gracefully.", u"Connection Closed Gracefully."},
    {u"ends in a space ", u"ends in a space "},
    {u"Wow!", u"Wow!"},
    {u"a,", u"a,"},
    {u"a-", u"a-"},
    {u"(a)", u"(a)"},
    {u"Socket Error # 10061\r\n", u"Socket Error # 10061\r\n"},
    {u"line\r", u"line\r"},
    {u"line\n", u"line\n"},
    {u"tab\t", u"tab\t"},
    {u"quote\"", u"quote\""},
    {u"slash/", u"slash/."},
    {u"HTTP/1.1 404 Not Found", u"HTTP/1.1 404 Not Found."},
    {u"HTTP/1.1 500", u"HTTP/1.1 500."},
    {u"'2.5.1' is not a valid floating point value",
     u"'2.5.1' is not a valid floating point value."},
    {u"Invalid data type for 'Ver'", u"Invalid data type for 'Ver'"},  // "'" lies below "."
    {u"label:", u"label:."},
    {u"0", u"0."},
    {u"z", u"z."},
    {u"Z", u"Z."},
    {u"~", u"~."},
    {u"\u00e9", u"\u00e9."},
    {u"\ud5e4\ub354", u"\ud5e4\ub354."},  // Hangul
    {u"\u3002", u"\u3002."},              // an ideographic full stop is still above "."
    {u"\U0001F600", u"\U0001F600."},      // a surrogate pair ends in a low surrogate
    {u".", u"."},
    {u"/", u"/."},
};

TEST(WithClosingPeriod, Table) {
  for (const PeriodCase& c : kPeriodCases) {
    EXPECT_EQ(Utf8(WithClosingPeriod(c.text)), Utf8(c.shown)) << "text: " << Utf8(c.text);
  }
}

std::shared_ptr<const Error> Chain(std::initializer_list<const char16_t*> messages) {
  // Builds outer -> ... -> innermost from the last message backwards.
  std::shared_ptr<const Error> inner;
  for (auto it = std::rbegin(messages); it != std::rend(messages); ++it) {
    inner = std::make_shared<EConvertError>(*it, inner);
  }
  return inner;
}

struct WrappedCase {
  std::initializer_list<const char16_t*> chain;  // outermost first
  const char16_t* shown;
};

TEST(ErrorBoxText, InnermostMessageWins) {
  const WrappedCase cases[] = {
      {{u"outer"}, u"outer."},
      {{u""}, u""},
      {{u"outer", u"inner"}, u"inner."},
      {{u"outer", u"middle", u"Socket Error # 10054\r\n"}, u"Socket Error # 10054\r\n"},
      {{u"outer", u""}, u"outer."},
      {{u"outer.", u"middle", u""}, u"outer."},
      {{u"", u"inner"}, u"inner."},
  };
  for (const WrappedCase& c : cases) {
    std::shared_ptr<const Error> error = Chain(c.chain);
    EXPECT_EQ(Utf8(ErrorBoxText(*error)), Utf8(c.shown)) << "outer: " << Utf8(*c.chain.begin());
  }
}

TEST(ErrorBoxText, ErrorKindsKeepTheirMessages) {
  EXPECT_EQ(Utf8(ErrorBoxText(EIdHTTPProtocolException(404, u"HTTP/1.1 404 Not Found", ""))),
            "HTTP/1.1 404 Not Found.");
  EXPECT_EQ(
      Utf8(ErrorBoxText(EIdSocketError(10061, u"Socket Error # 10061\r\nConnection refused."))),
      "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(Utf8(ErrorBoxText(EIdHostRequired(u""))), "");
  EXPECT_EQ(Utf8(ErrorBoxText(EFCreateError(u"Cannot create file \"C:\\x\". Access denied"))),
            "Cannot create file \"C:\\x\". Access denied.");
}

}  // namespace
}  // namespace vanto::app
