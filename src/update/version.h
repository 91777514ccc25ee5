// Version numbers: decimal texts in the user's number format, compared as plain numbers (so 1.10
// is lower than 1.9).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto::update {

// Accepts exactly: spaces, an optional sign, digits with at most one `decimalSeparator` among
// them, an optional exponent (E or e, optional sign, digits that may be missing), spaces. A
// lone separator reads as 0. Nothing when the text is anything else or overflows a double; a
// value too small for a double reads as 0.
std::optional<double> ParseVersion(std::u16string_view text, char16_t decimalSeparator);

// ParseVersion, raising EConvertError "'<text>' is not a valid floating point value".
double VersionFromText(const std::u16string& text, char16_t decimalSeparator);

}  // namespace vanto::update
