#include "net/errors.h"

#include "platform/utf.h"

namespace vanto {

Error::Error(std::u16string message, std::shared_ptr<const Error> inner)
    : message_(std::move(message)),
      inner_(std::move(inner)),
      utf8_(platform::Utf16ToUtf8(message_)) {}

}  // namespace vanto
