#include "app/error_text.h"

namespace vanto::app {

std::u16string ErrorBoxText(const vanto::Error& error) {
  const vanto::Error* innermost = &error;
  while (innermost->Inner() != nullptr) innermost = innermost->Inner();
  const std::u16string& text =
      innermost->Message().empty() ? error.Message() : innermost->Message();
  return WithClosingPeriod(text);
}

std::u16string WithClosingPeriod(std::u16string text) {
  if (!text.empty() && text.back() > u'.') text.push_back(u'.');
  return text;
}

}  // namespace vanto::app
