#include "update/version.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "net/errors.h"
#include "platform/utf.h"

namespace vanto::update {
namespace {

struct VersionCase {
  const char16_t* text;
  char16_t separator;
  bool accepted;
  double value;  // when accepted
};

constexpr bool kOk = true;
constexpr bool kBad = false;

const VersionCase kVersionCases[] = {
    // Plain forms.
    {u"0", u'.', kOk, 0.0},
    {u"2", u'.', kOk, 2.0},
    {u"1.5", u'.', kOk, 1.5},
    {u"1.10", u'.', kOk, 1.1},
    {u"1.9", u'.', kOk, 1.9},
    {u"007.250", u'.', kOk, 7.25},
    {u"0.000125", u'.', kOk, 0.000125},
    {u"123456789012345678901234567890", u'.', kOk, 1.2345678901234568e29},
    // Blanks: spaces only, on either side.
    {u" 2.5 ", u'.', kOk, 2.5},
    {u"     2.5", u'.', kOk, 2.5},
    {u"2.5     ", u'.', kOk, 2.5},
    {u"\t2.5", u'.', kBad, 0},
    {u"2.5\t", u'.', kBad, 0},
    {u"2 .5", u'.', kBad, 0},
    {u"2.5\r\n", u'.', kBad, 0},
    {u"\u00A02.5", u'.', kBad, 0},
    {u"", u'.', kBad, 0},
    {u"   ", u'.', kBad, 0},
    // Signs.
    {u"+2.5", u'.', kOk, 2.5},
    {u"-2.5", u'.', kOk, -2.5},
    {u" -3", u'.', kOk, -3.0},
    {u"- 3", u'.', kBad, 0},
    {u"+-3", u'.', kBad, 0},
    {u"+", u'.', kBad, 0},
    {u"-", u'.', kBad, 0},
    {u"3-", u'.', kBad, 0},
    // The separator comes from the locale and is the only one accepted.
    {u"1,5", u',', kOk, 1.5},
    {u"1.5", u',', kBad, 0},
    {u"1,5", u'.', kBad, 0},
    {u"1\u066B5", u'\u066B', kOk, 1.5},
    {u".5", u'.', kOk, 0.5},
    {u"5.", u'.', kOk, 5.0},
    {u".", u'.', kOk, 0.0},
    {u"-.", u'.', kOk, 0.0},
    {u" . ", u'.', kOk, 0.0},
    {u",", u',', kOk, 0.0},
    {u"..", u'.', kBad, 0},
    {u"2.5.1", u'.', kBad, 0},
    {u"1.000.000", u'.', kBad, 0},
    {u"1,000", u'.', kBad, 0},
    {u"1,000.5", u'.', kBad, 0},
    {u"1.000,5", u',', kBad, 0},
    // Exponents, whose digits may be missing.
    {u"1e3", u'.', kOk, 1000.0},
    {u"1E3", u'.', kOk, 1000.0},
    {u"2.5e-1", u'.', kOk, 0.25},
    {u"2.5E+2", u'.', kOk, 250.0},
    {u"7e", u'.', kOk, 7.0},
    {u"7E+", u'.', kOk, 7.0},
    {u"7e-", u'.', kOk, 7.0},
    {u"7e ", u'.', kOk, 7.0},
    {u".e5", u'.', kOk, 0.0},
    {u"1.5e0003", u'.', kOk, 1500.0},
    {u"e5", u'.', kBad, 0},
    {u"1e5e5", u'.', kBad, 0},
    {u"1e5.5", u'.', kBad, 0},
    {u"1e+-5", u'.', kBad, 0},
    {u"1 e5", u'.', kBad, 0},
    {u"1d5", u'.', kBad, 0},
    // Ranges: overflow is refused, underflow reads as 0.
    {u"1e308", u'.', kOk, 1e308},
    {u"1.7976931348623157e308", u'.', kOk, 1.7976931348623157e308},
    {u"1e309", u'.', kBad, 0},
    {u"-1e309", u'.', kBad, 0},
    {u"0.001e311", u'.', kOk, 1e308},
    {u"99999e99999999999999999999", u'.', kBad, 0},
    {u"1e-400", u'.', kOk, 0.0},
    {u"1e-99999999999999999999", u'.', kOk, 0.0},
    {u"4.9406564584124654e-324", u'.', kOk, 4.9406564584124654e-324},
    {u"0e99999", u'.', kOk, 0.0},
    // Other spellings of numbers.
    {u"0x10", u'.', kBad, 0},
    {u"$10", u'.', kBad, 0},
    {u"INF", u'.', kBad, 0},
    {u"inf", u'.', kBad, 0},
    {u"Infinity", u'.', kBad, 0},
    {u"NAN", u'.', kBad, 0},
    {u"nan", u'.', kBad, 0},
    {u"\uFF11", u'.', kBad, 0},  // a full-width digit
    {u"v1.5", u'.', kBad, 0},
};

std::string Show(const std::u16string& text) {
  return platform::Utf16ToUtf8(text);
}

TEST(VersionTest, Table) {
  for (const VersionCase& c : kVersionCases) {
    const std::u16string text = c.text;
    SCOPED_TRACE("text '" + Show(text) + "' separator '" + Show(std::u16string(1, c.separator)) +
                 "'");
    const std::optional<double> value = ParseVersion(text, c.separator);
    EXPECT_EQ(value.has_value(), c.accepted);
    if (value && c.accepted) {
      EXPECT_EQ(*value, c.value);
    }
  }
}

TEST(VersionTest, EmbeddedNulIsRefused) {
  EXPECT_FALSE(ParseVersion(std::u16string(u"1\0", 2), u'.').has_value());
}

TEST(VersionTest, TextsCompareAsNumbers) {
  EXPECT_LT(VersionFromText(u"1.10", u'.'), VersionFromText(u"1.9", u'.'));
  EXPECT_EQ(VersionFromText(u"2.0", u'.'), VersionFromText(u"2", u'.'));
  EXPECT_EQ(VersionFromText(u"2,0", u','), VersionFromText(u"2.0", u'.'));
}

TEST(VersionTest, RoundsCorrectly) {
  // Halfway and near-halfway cases that naive digit accumulation gets wrong.
  EXPECT_EQ(VersionFromText(u"9007199254740993", u'.'), 9007199254740992.0);
  EXPECT_EQ(VersionFromText(u"9007199254740993.0000000001", u'.'), 9007199254740994.0);
  EXPECT_EQ(VersionFromText(u"2.2250738585072011e-308", u'.'), 2.2250738585072011e-308);
  EXPECT_EQ(VersionFromText(u"0.1", u'.'), 0.1);
}

TEST(VersionTest, FailureNamesTheWholeText) {
  const struct {
    const char16_t* text;
    const char16_t* message;
  } cases[] = {
      {u"2.5.1", u"'2.5.1' is not a valid floating point value"},
      {u" 1.5 x ", u"' 1.5 x ' is not a valid floating point value"},
      {u"", u"'' is not a valid floating point value"},
      {u"1e309", u"'1e309' is not a valid floating point value"},
  };
  for (const auto& c : cases) {
    try {
      VersionFromText(c.text, u'.');
      ADD_FAILURE() << "no error for " << Show(c.text);
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.Message(), c.message);
      EXPECT_EQ(error.Kind(), "EConvertError");
    }
  }
}

TEST(VersionTest, LongTextsAreReadExactly) {
  // 5000 digits, with the separator in the middle, and a long run of zeros before a digit.
  std::u16string digits(2500, u'1');
  digits += u'.';
  digits += std::u16string(2500, u'1');
  EXPECT_FALSE(ParseVersion(digits, u'.').has_value());  // about 1.1e2499: too large

  std::u16string small = u"0.";
  small += std::u16string(5000, u'0');
  small += u"1e5010";
  ASSERT_TRUE(ParseVersion(small, u'.').has_value());
  EXPECT_DOUBLE_EQ(*ParseVersion(small, u'.'), 1e9);

  std::u16string padded(5000, u' ');
  padded += u"3.25";
  padded += std::u16string(5000, u' ');
  EXPECT_EQ(*ParseVersion(padded, u'.'), 3.25);

  std::u16string manyDigits = u"1.";
  manyDigits += std::u16string(5000, u'9');
  EXPECT_EQ(*ParseVersion(manyDigits, u'.'), 2.0);

  std::u16string longExponent = u"1e";
  longExponent += std::u16string(5000, u'0');
  longExponent += u'2';
  EXPECT_EQ(*ParseVersion(longExponent, u'.'), 100.0);
}

}  // namespace
}  // namespace vanto::update
