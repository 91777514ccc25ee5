// How the platform's private-profile service reads INI texts, as a table shared by the test of
// the real service and the test of the in-memory stand-in, so that both answer alike.
#pragma once

#include <string>

namespace vanto::test {

struct IniCase {
  const char* name;
  const char16_t* text;  // file content
  const char16_t* section;
  const char16_t* key;
  const char16_t* expected;  // with the default "dflt"
};

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
};

}  // namespace vanto::test
