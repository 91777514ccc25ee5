#include "code_page.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <iconv.h>
#endif

namespace vanto::site {

#ifdef _WIN32

std::optional<std::u16string> DecodeCodePage(std::string_view bytes, unsigned codePage) {
  if (!IsValidCodePage(codePage)) return {};
  std::u16string text;
  // Character by character, so that a byte that is no character becomes U+FFFD as on Linux,
  // whatever the system's own replacement would be.
  for (size_t at = 0; at < bytes.size();) {
    const bool lead = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[at]));
    const int length = lead && at + 1 < bytes.size() ? 2 : 1;
    wchar_t out[2];
    const int got =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data() + at, length, out, 2);
    if (got > 0) {
      text.append(reinterpret_cast<const char16_t*>(out), static_cast<size_t>(got));
      at += static_cast<size_t>(length);
    } else {
      text.push_back(u'\uFFFD');
      at += 1;
    }
  }
  return text;
}

#else

namespace {

// One conversion descriptor, closed on every path.
class Converter {
 public:
  explicit Converter(const std::string& from) : cd_(iconv_open("UTF-16LE", from.c_str())) {}
  ~Converter() {
    if (IsOpen()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool IsOpen() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::optional<std::u16string> DecodeCodePage(std::string_view bytes, unsigned codePage) {
  Converter converter(codePage == 65001 ? std::string("UTF-8") : "CP" + std::to_string(codePage));
  if (!converter.IsOpen()) return {};
  std::u16string text;
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    const size_t done = iconv(converter.Get(), &in, &inLeft, &out, &outLeft);
    for (char* p = buffer; p + 1 < out; p += 2) {
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                           (static_cast<unsigned char>(p[1]) << 8)));
    }
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {
      // A byte that is no character here, or a lead byte at the end without its trail.
      text.push_back(u'\uFFFD');
      ++in;
      --inLeft;
      iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return text;
}

#endif

}  // namespace vanto::site
