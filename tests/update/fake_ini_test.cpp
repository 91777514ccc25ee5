// The portable INI reading must answer as the platform's service does (the same table runs
// against the real one under Wine), or the update's tests and the vendor's checks would prove
// nothing.
#include <gtest/gtest.h>

#include <string>

#include "platform/utf.h"
#include "update/ini_cases.h"
#include "update/ini_text.h"

namespace vanto::test {
namespace {

using update::DecodeIniBytes;
using update::ProfileStringFromText;

TEST(FakeIniTest, AnswersAsThePlatformService) {
  for (const IniCase& c : kIniCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::Utf16ToUtf8(ProfileStringFromText(DecodeIniBytes(IniCaseBytes(c)),
                                                          c.section, c.key, u"dflt")),
              platform::Utf16ToUtf8(c.expected));
  }
}

TEST(FakeIniTest, LongValuesAreCut) {
  const std::u16string value(3000, u'x');
  EXPECT_EQ(ProfileStringFromText(u"[S]\r\nk=" + value + u"\r\n", u"S", u"k", u""),
            value.substr(0, 2047));
  EXPECT_EQ(ProfileStringFromText(u"", u"S", u"k", value), value.substr(0, 2047));
}

TEST(FakeIniTest, DecodesUtf16WithByteOrderMark) {
  const std::string bytes("\xFF\xFE[\0S\0]\0\n\0k\0=\0\x5C\xC5\n\0", 18);
  EXPECT_EQ(ProfileStringFromText(DecodeIniBytes(bytes), u"S", u"k", u""), u"\uC55C");
}

}  // namespace
}  // namespace vanto::test
