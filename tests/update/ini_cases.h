// How the platform's private-profile service reads INI texts, as a table shared by the test of
// the real service and the test of the in-memory stand-in, so that both answer alike.
#pragma once

#include <string>

#include "platform/utf.h"

namespace vanto::test {

// How a case's text is stored as bytes.
enum class IniBytes { kUtf16Mark, kAscii, kUtf8Mark };

struct IniCase {
  const char* name;
  const char16_t* text;  // file content
  const char16_t* section;
  const char16_t* key;
  const char16_t* expected;  // with the default "dflt"
  IniBytes bytes = IniBytes::kUtf16Mark;
  // Where Wine's service answers otherwise than Windows' (which the client's reader follows).
  const char16_t* wineAnswer = nullptr;
};

inline std::string IniCaseBytes(const IniCase& c) {
  switch (c.bytes) {
    case IniBytes::kAscii:
      return platform::Utf16ToUtf8(c.text);
    case IniBytes::kUtf8Mark:
      return "\xEF\xBB\xBF" + platform::Utf16ToUtf8(c.text);
    case IniBytes::kUtf16Mark:
      break;
  }
  std::string bytes = "\xFF\xFE";
  for (const char16_t* unit = c.text; *unit != 0; ++unit) {
    bytes.push_back(static_cast<char>(*unit & 0xFF));
    bytes.push_back(static_cast<char>(*unit >> 8));
  }
  return bytes;
}

inline constexpr IniCase kIniCases[] = {
    {"plain", u"[S]\r\nk=v\r\n", u"S", u"k", u"v"},
    {"section letter case", u"[vanto_info]\r\nVER=2.0\r\n", u"VANTO_INFO", u"VER", u"2.0"},
    {"key letter case", u"[S]\r\nexedir=a.exe\r\n", u"S", u"ExeDir", u"a.exe"},
    {"blanks around equals", u"[S]\r\nk   =   v w  \r\n", u"S", u"k", u"v w"},
    {"blanks before key", u"[S]\r\n   k=v\r\n", u"S", u"k", u"v"},
    {"blanks in section header", u"[ S ]\r\nk=v\r\n", u"S", u"k", u"v"},
    {"double quotes removed", u"[S]\r\nk=\"quoted value\"\r\n", u"S", u"k", u"quoted value"},
    {"single quotes removed", u"[S]\r\nk='v'\r\n", u"S", u"k", u"v"},
    {"unmatched quote kept", u"[S]\r\nk=\"v\r\n", u"S", u"k", u"\"v"},
    {"inner quotes kept", u"[S]\r\nk=a\"b\"c\r\n", u"S", u"k", u"a\"b\"c"},
    {"comment line", u"[S]\r\n;k=x\r\nk=v\r\n", u"S", u"k", u"v"},
    {"empty value", u"[S]\r\nk=\r\n", u"S", u"k", u""},
    {"missing key", u"[S]\r\nother=v\r\n", u"S", u"k", u"dflt"},
    {"missing section", u"[T]\r\nk=v\r\n", u"S", u"k", u"dflt"},
    {"key in another section", u"[T]\r\nk=t\r\n[S]\r\nk=s\r\n", u"S", u"k", u"s"},
    {"first of two keys", u"[S]\r\nk=1\r\nk=2\r\n", u"S", u"k", u"1"},
    {"equals in value", u"[S]\r\nk=a=b\r\n", u"S", u"k", u"a=b"},
    {"bare line feeds", u"[S]\nk=v\n", u"S", u"k", u"v"},
    {"no final line break", u"[S]\r\nk=v", u"S", u"k", u"v"},
    {"not an INI file", u"<html>VER=3</html>", u"S", u"VER", u"dflt"},
    {"empty file", u"", u"S", u"k", u"dflt"},
    {"Hangul value", u"[S]\r\nk=\uC5C5\uADF8\uB808\uC774\uB4DC.exe\r\n", u"S", u"k",
     u"\uC5C5\uADF8\uB808\uC774\uB4DC.exe"},
    {"URL value", u"[S]\r\nServerDir=http://h:81/a b/\r\n", u"S", u"ServerDir",
     u"http://h:81/a b/"},
    {"tabs around everything", u"[S]\r\n\t k\t=\tv\t \r\n", u"S", u"k", u"v"},
    {"blanks inside quotes kept", u"[S]\r\nk=\" v \"\r\n", u"S", u"k", u" v "},
    {"blanks outside quotes dropped", u"[S]\r\nk=  \"v\"  \r\n", u"S", u"k", u"v"},
    {"empty quotes", u"[S]\r\nk=\"\"\r\n", u"S", u"k", u""},
    {"one quote alone", u"[S]\r\nk=\"\r\n", u"S", u"k", u"\""},
    {"mismatched quotes kept", u"[S]\r\nk=\"v'\r\n", u"S", u"k", u"\"v'"},
    {"semicolon after value kept", u"[S]\r\nk=v ; note\r\n", u"S", u"k", u"v ; note"},
    {"indented comment", u"[S]\r\n  ;k=x\r\nk=v\r\n", u"S", u"k", u"v"},
    {"blank lines", u"\r\n\r\n[S]\r\n\r\nk=v\r\n\r\n", u"S", u"k", u"v"},
    {"duplicate section, first value wins", u"[S]\r\nk=1\r\n[S]\r\nk=2\r\n", u"S", u"k", u"1"},
    {"duplicate section, key only in second", u"[S]\r\na=1\r\n[T]\r\n[S]\r\nk=2\r\n", u"S", u"k",
     u"dflt"},
    {"duplicate key, other letter case", u"[S]\r\nKEY=1\r\nkey=2\r\n", u"S", u"key", u"1"},
    {"line without equals", u"[S]\r\nk\r\nk=v\r\n", u"S", u"k", u"dflt"},
    {"carriage returns only", u"[S]\rk=v\r", u"S", u"k", u"v"},
    {"mixed line ends", u"[T]\nx=1\r\n[S]\rk=v\n", u"S", u"k", u"v"},
    {"header without closing bracket", u"[S\r\nk=v\r\n", u"S", u"k", u"dflt"},
    {"bracket line inside a section", u"[S]\r\n[T\r\nk=v\r\n", u"S", u"k", u"v"},
    {"text after the header", u"[S] ; note\r\nk=v\r\n", u"S", u"k", u"v"},
    {"keys before any section", u"k=v\r\n[S]\r\nx=1\r\n", u"S", u"k", u"dflt"},
    {"Hangul section and key", u"[\uC815\uBCF4]\r\n\uD0A4=\uAC12\r\n", u"\uC815\uBCF4", u"\uD0A4",
     u"\uAC12"},
    {"Hangul with blanks and quotes", u"[S]\r\nk = \"\uBC84\uC804 2.0\" \r\n", u"S", u"k",
     u"\uBC84\uC804 2.0"},
    {"ASCII file", u"[VANTO_INFO]\r\nVER=2.0\r\n", u"VANTO_INFO", u"VER", u"2.0", IniBytes::kAscii},
    {"ASCII file, bare line feeds", u"[S]\nk = 'v w'\n", u"S", u"k", u"v w", IniBytes::kAscii},
    {"ASCII file, missing section", u"[T]\r\nk=v\r\n", u"S", u"k", u"dflt", IniBytes::kAscii},
    {"UTF-8 mark, later section", u"[T]\r\nx=1\r\n[S]\r\nk=v\r\n", u"S", u"k", u"v",
     IniBytes::kUtf8Mark},
    // Windows reads the mark as two or three letters of its code page in front of "[".
    {"UTF-8 mark hides the first section", u"[S]\r\nk=v\r\n", u"S", u"k", u"dflt",
     IniBytes::kUtf8Mark, u"v"},
};

}  // namespace vanto::test
