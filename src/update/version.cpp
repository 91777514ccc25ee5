#include "update/version.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "net/errors.h"

namespace vanto::update {
namespace {

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// Saturates well beyond any exponent a double can use, so that a long run of exponent digits
// neither overflows nor changes the verdict.
constexpr long kExponentCap = 100000;

}  // namespace

std::optional<double> ParseVersion(std::u16string_view text, char16_t decimalSeparator) {
  size_t pos = 0;
  const size_t end = text.size();
  while (pos < end && text[pos] == u' ') ++pos;

  bool negative = false;
  if (pos < end && (text[pos] == u'+' || text[pos] == u'-')) {
    negative = text[pos] == u'-';
    ++pos;
  }

  // The mantissa as plain ASCII for the correctly rounded conversion.
  std::string mantissa;
  bool sawDigit = false;
  bool sawSeparator = false;
  // Position of the first non-zero digit relative to the decimal point, to tell an overflow from
  // an underflow when the conversion reports the value out of range.
  long leadingMagnitude = 0;
  bool sawNonZero = false;
  long integerDigits = 0;
  while (pos < end && IsDigit(text[pos])) {
    sawDigit = true;
    if (text[pos] != u'0' || sawNonZero) {
      sawNonZero = true;
      ++integerDigits;
      mantissa.push_back(static_cast<char>(text[pos]));
    }
    ++pos;
  }
  if (pos < end && text[pos] == decimalSeparator) {
    sawSeparator = true;
    ++pos;
    long zerosAfterPoint = 0;
    std::string fraction;
    while (pos < end && IsDigit(text[pos])) {
      sawDigit = true;
      if (!sawNonZero && text[pos] == u'0') {
        ++zerosAfterPoint;
      } else {
        if (!sawNonZero) leadingMagnitude = -zerosAfterPoint;
        sawNonZero = true;
      }
      fraction.push_back(static_cast<char>(text[pos]));
      ++pos;
    }
    if (!fraction.empty()) {
      if (mantissa.empty()) mantissa.push_back('0');
      mantissa.push_back('.');
      mantissa += fraction;
    }
  }
  if (!sawDigit && !sawSeparator) return std::nullopt;
  if (integerDigits > 0) leadingMagnitude = integerDigits;

  long exponent = 0;
  if (pos < end && (text[pos] == u'E' || text[pos] == u'e')) {
    ++pos;
    bool exponentNegative = false;
    if (pos < end && (text[pos] == u'+' || text[pos] == u'-')) {
      exponentNegative = text[pos] == u'-';
      ++pos;
    }
    while (pos < end && IsDigit(text[pos])) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (text[pos] - u'0');
      ++pos;
    }
    if (exponentNegative) exponent = -exponent;
  }

  while (pos < end && text[pos] == u' ') ++pos;
  if (pos != end) return std::nullopt;

  const double zero = negative ? -0.0 : 0.0;
  if (!sawNonZero) return zero;

  mantissa += 'e';
  mantissa += std::to_string(exponent);
  double value = 0.0;
  const auto [last, error] =
      std::from_chars(mantissa.data(), mantissa.data() + mantissa.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is refused.
    if (leadingMagnitude + exponent > 0) return std::nullopt;
    return zero;
  }
  if (error != std::errc() || last != mantissa.data() + mantissa.size()) return std::nullopt;
  if (std::isinf(value)) return std::nullopt;
  return negative ? -value : value;
}

double VersionFromText(const std::u16string& text, char16_t decimalSeparator) {
  if (auto value = ParseVersion(text, decimalSeparator)) return *value;
  throw EConvertError(u"'" + text + u"' is not a valid floating point value");
}

}  // namespace vanto::update
