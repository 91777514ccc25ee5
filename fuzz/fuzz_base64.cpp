// The ExeSig entry's base64: whatever text the information file holds, decoding either refuses it
// or yields bytes whose encoding is that very text, so one signature has exactly one spelling.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/utf.h"
#include "update/update_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  const auto decoded = vanto::update::DecodeBase64(text);
  if (decoded) {
    if (vanto::platform::Utf8ToUtf16(vanto::update::EncodeBase64(*decoded)) != text) std::abort();
  }
  // And every byte string survives the round trip.
  const std::span<const std::uint8_t> bytes(data, size);
  const std::string encoded = vanto::update::EncodeBase64(bytes);
  const auto again = vanto::update::DecodeBase64(vanto::platform::Utf8ToUtf16(encoded));
  if (!again || !std::equal(again->begin(), again->end(), bytes.begin(), bytes.end())) std::abort();
  return 0;
}
