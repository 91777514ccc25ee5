// The user's number format, as far as the update needs it.
#pragma once

namespace vanto::platform {

// The first character of the user's decimal separator, or "." when it cannot be read.
char16_t UserDecimalSeparator();

}  // namespace vanto::platform
