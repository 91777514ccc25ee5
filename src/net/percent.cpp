#include "net/percent.h"

#include "platform/utf.h"

namespace vanto::net {

std::string PercentEncodeTarget(std::u16string_view target) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(target.size());
  for (size_t i = 0; i < target.size(); ++i) {
    const char16_t c = target[i];
    if (c > 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      continue;
    }
    // A surrogate pair is one character: encode both units together.
    size_t units = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < target.size() && target[i + 1] >= 0xDC00 &&
        target[i + 1] <= 0xDFFF) {
      units = 2;
    }
    for (char byte : platform::Utf16ToUtf8(target.substr(i, units))) {
      const auto b = static_cast<unsigned char>(byte);
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
    i += units - 1;
  }
  return out;
}

}  // namespace vanto::net
