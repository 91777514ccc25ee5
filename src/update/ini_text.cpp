#include "update/ini_text.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "platform/utf.h"

namespace vanto::update {
namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char16_t LowerAscii(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::vector<std::u16string_view> Lines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' || text[i] == u'\r') {
      lines.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  lines.push_back(text.substr(start));
  return lines;
}

bool HasUtf16Mark(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

std::u16string_view Unquoted(std::u16string_view value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::u16string DecodeIniBytes(std::string_view bytes) {
  if (HasUtf16Mark(bytes)) {
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return text;
  }
  return platform::Utf8ToUtf16(bytes);
}

bool IniBytesArePortable(std::string_view bytes) {
  if (HasUtf16Mark(bytes)) return true;
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) > 0x7F) return false;
  }
  return true;
}

std::u16string ProfileStringFromText(std::u16string_view iniText, std::u16string_view section,
                                     std::u16string_view key, std::u16string_view defaultValue) {
  std::optional<std::u16string_view> found;
  bool inSection = false;
  bool sectionSeen = false;
  for (std::u16string_view raw : Lines(iniText)) {
    const std::u16string_view line = Trim(raw);
    if (line.empty() || line.front() == u';') continue;
    // A "[" without its "]" starts no section: the line is one more of the current section.
    const size_t close = line.front() == u'[' ? line.find(u']') : line.npos;
    if (close != line.npos) {
      const std::u16string_view name = Trim(line.substr(1, close - 1));
      // Only the first section of a name counts.
      inSection = !sectionSeen && SameName(name, section);
      if (inSection) sectionSeen = true;
      continue;
    }
    if (!inSection) continue;
    const size_t equals = line.find(u'=');
    if (!SameName(Trim(line.substr(0, equals)), key)) continue;
    // A key without "=" has no value: the default answers for it, also over a later "k=v".
    if (equals != line.npos) found = Unquoted(Trim(line.substr(equals + 1)));
    break;
  }
  std::u16string result(found ? *found : defaultValue);
  if (result.size() > kLongestProfileString) result.resize(kLongestProfileString);
  return result;
}

std::u16string ProfileStringFromFile(const std::u16string& path, std::u16string_view section,
                                     std::u16string_view key, std::u16string_view defaultValue) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::string bytes;
  if (in) bytes.assign(std::istreambuf_iterator<char>(in), {});
  return ProfileStringFromText(DecodeIniBytes(bytes), section, key, defaultValue);
}

}  // namespace vanto::update
