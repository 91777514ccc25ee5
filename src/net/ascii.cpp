#include "net/ascii.h"

namespace vanto::net {
namespace {

template <typename Char>
std::basic_string_view<Char> Trim(std::basic_string_view<Char> text) {
  auto blank = [](Char c) { return static_cast<unsigned>(c) <= 0x20; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

template <typename Char>
std::basic_string<Char> Lower(std::basic_string_view<Char> text) {
  std::basic_string<Char> out(text);
  for (Char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<Char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

std::string ToWireAscii(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    out += (c < 0x20 || c >= 0x7F) ? '?' : static_cast<char>(c);
  }
  return out;
}

std::u16string FromWireAscii(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char b : bytes) {
    const auto u = static_cast<unsigned char>(b);
    out += u > 0x7F ? u'?' : static_cast<char16_t>(u);
  }
  return out;
}

std::string LowerAscii(std::string_view text) {
  return Lower(text);
}
std::u16string LowerAscii(std::u16string_view text) {
  return Lower(text);
}
std::string_view TrimBlanks(std::string_view text) {
  return Trim(text);
}
std::u16string_view TrimBlanks(std::u16string_view text) {
  return Trim(text);
}

}  // namespace vanto::net
