// Version texts from the registry and the information file: a finite number or the conversion
// error carrying the whole text, never anything else; and both readings agree, ParseVersion giving
// the number VersionFromText returns and nothing where it raises.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/errors.h"
#include "update/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char16_t separator = static_cast<char16_t>(data[0] | (data[1] << 8));
  std::u16string text;
  for (size_t i = 2; i + 1 < size; i += 2) {
    text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  std::optional<double> parsed = vanto::update::ParseVersion(text, separator);
  if (parsed && !std::isfinite(*parsed)) std::abort();
  try {
    const double value = vanto::update::VersionFromText(text, separator);
    if (!parsed || value != *parsed) std::abort();
  } catch (const vanto::EConvertError& error) {
    if (parsed) std::abort();
    if (error.Message() != u"'" + text + u"' is not a valid floating point value") std::abort();
  }
  return 0;
}
