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
  if (bytes.empty()) return std::u16string();
  // The system's own conversion, as the profile reader makes it of the whole file.
  const int size = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string text(static_cast<size_t>(needed), u'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                      needed);
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

// What Windows does where iconv knows no character: in the double-byte code pages of East Asia a
// lead byte takes the next byte unless that is a zero, the user-defined rows read as private-use
// characters in order, and what is no character becomes the code page's default character, but
// for a few single bytes that stand for characters of their own; in the other code pages a byte
// without a character stands for the code point of its value. (The user-defined rows of 936 and
// 950, which Windows scatters over the private-use area, read as the default here.)
struct WindowsRules {
  unsigned char firstLead = 0, lastLead = 0, secondFirstLead = 0, secondLastLead = 0;
  char16_t defaultCharacter = u'?';
  // A zero byte ends the list.
  struct SingleByte {
    unsigned char byte;
    char16_t character;
  } singleBytes[5] = {};
  // Each row's trail bytes from `firstTrail` to `lastTrail` are the characters from `first` on.
  struct UserDefinedRow {
    unsigned char lead, firstTrail, lastTrail;
    char16_t first;
  } userDefined[2] = {};
  bool IsLead(unsigned char byte) const {
    return (byte >= firstLead && byte <= lastLead) ||
           (byte >= secondFirstLead && byte <= secondLastLead);
  }
  char16_t WithoutCharacter(unsigned char byte) const {
    if (firstLead == 0) return byte;
    for (const SingleByte& single : singleBytes) {
      if (single.byte != 0 && single.byte == byte) return single.character;
    }
    return defaultCharacter;
  }
  std::optional<char16_t> UserDefined(unsigned char lead, unsigned char trail) const {
    for (const UserDefinedRow& row : userDefined) {
      if (row.lead != 0 && row.lead == lead && trail >= row.firstTrail && trail <= row.lastTrail) {
        return static_cast<char16_t>(row.first + (trail - row.firstTrail));
      }
    }
    return {};
  }
};

WindowsRules RulesOf(unsigned codePage) {
  switch (codePage) {
    case 932:
      return {0x81,
              0x9F,
              0xE0,
              0xFC,
              u'\u30FB',
              {{0x80, u'\u0080'},
               {0xA0, u'\uF8F0'},
               {0xFD, u'\uF8F1'},
               {0xFE, u'\uF8F2'},
               {0xFF, u'\uF8F3'}}};
    case 949:
      return {0x81,
              0xFE,
              0,
              0,
              u'?',
              {{0x80, u'\u0080'}, {0xFF, u'\uF8F7'}},
              {{0xC9, 0xA1, 0xFE, u'\uE000'}, {0xFE, 0xA1, 0xFE, u'\uE05E'}}};
    case 936:
      return {0x81, 0xFE, 0, 0, u'?', {{0xFF, u'\uF8F5'}}};
    case 950:
      return {0x81, 0xFE, 0, 0, u'?', {{0xFF, u'\uF8F8'}}};
    default:
      return {};
  }
}

}  // namespace

std::optional<std::u16string> DecodeCodePage(std::string_view bytes, unsigned codePage) {
  Converter converter(codePage == 65001 ? std::string("UTF-8") : "CP" + std::to_string(codePage));
  if (!converter.IsOpen()) return {};
  const WindowsRules rules = RulesOf(codePage);
  const bool doubleByte = rules.firstLead != 0;
  std::u16string text;
  // One character at a time: in UTF-8 up to four bytes, elsewhere one, or two after a lead byte.
  for (size_t at = 0; at < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    // ASCII is itself in every ANSI code page (iconv's 949 refuses even a zero byte).
    if (byte < 0x80) {
      text.push_back(byte);
      ++at;
      continue;
    }
    const size_t longest = codePage == 65001 ? 4 : doubleByte && rules.IsLead(byte) ? 2 : 1;
    if (longest == 2 && (at + 1 == bytes.size() || bytes[at + 1] == '\0')) {
      // A lead byte at the end, or before a zero, which it never takes.
      text.push_back(rules.defaultCharacter);
      ++at;
      continue;
    }
    if (longest == 2) {
      if (auto own = rules.UserDefined(byte, static_cast<unsigned char>(bytes[at + 1]))) {
        text.push_back(*own);
        at += 2;
        continue;
      }
    }
    size_t taken = 0;
    for (size_t length = codePage == 65001 ? 1 : longest;
         length <= longest && at + length <= bytes.size() && taken == 0; ++length) {
      char* in = const_cast<char*>(bytes.data() + at);
      size_t inLeft = length;
      char buffer[8];
      char* out = buffer;
      size_t outLeft = sizeof buffer;
      iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
      if (iconv(converter.Get(), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1)) {
        continue;
      }
      for (char* p = buffer; p + 1 < out; p += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                             (static_cast<unsigned char>(p[1]) << 8)));
      }
      taken = length;
    }
    if (taken == 0) {
      text.push_back(codePage == 65001 ? u'\uFFFD' : rules.WithoutCharacter(byte));
      taken = codePage == 65001 ? 1 : longest;
    }
    at += taken;
  }
  return text;
}

#endif

}  // namespace vanto::site
