#include "update/file_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/utf.h"
#include "update/fake_services.h"

namespace vanto::update {
namespace {

using platform::Utf16ToUtf8;
using test::FakeServices;

TEST(ChangeFileExtTest, Table) {
  const struct {
    const char16_t* path;
    const char16_t* expected;
  } cases[] = {
      {u"C:\\Program Files\\vanto\\vanto.exe", u"C:\\Program Files\\vanto\\vanto.OLD"},
      {u"C:\\a.b\\vanto", u"C:\\a.b\\vanto.OLD"},
      {u"C:\\a\\vanto.tar.gz", u"C:\\a\\vanto.tar.OLD"},
      {u"C:\\a\\.profile", u"C:\\a\\.OLD"},
      {u"C:\\a\\name.", u"C:\\a\\name.OLD"},
      {u"C:vanto", u"C:vanto.OLD"},
      {u"C:.x", u"C:.OLD"},
      {u"x.y:z", u"x.y:z.OLD"},
      {u"vanto.exe", u"vanto.OLD"},
      {u"", u".OLD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(ChangeFileExt(c.path, u".OLD")), Utf16ToUtf8(c.expected))
        << Utf16ToUtf8(c.path);
  }
}

TEST(ForceDirectoriesTest, Table) {
  const struct {
    const char* name;
    const char16_t* folder;
    std::vector<const char16_t*> unmakeable;
    bool result;
    std::vector<std::string> made;
  } cases[] = {
      {"existing", u"C:\\Users\\user", {}, true, {}},
      {"existing with backslash", u"C:\\Users\\user\\", {}, true, {}},
      {"one level", u"C:\\Users\\user\\a", {}, true, {"C:\\Users\\user\\a"}},
      {"three levels",
       u"C:\\Users\\user\\a\\b\\c\\",
       {},
       true,
       {"C:\\Users\\user\\a", "C:\\Users\\user\\a\\b", "C:\\Users\\user\\a\\b\\c"}},
      {"from the drive", u"C:\\new\\x", {}, true, {"C:\\new", "C:\\new\\x"}},
      {"drive root", u"C:\\", {}, true, {}},
      {"level refused",
       u"C:\\Users\\user\\a\\b",
       {u"c:\\users\\user\\a"},
       false,
       {"C:\\Users\\user\\a"}},
      {"missing drive", u"Q:\\a", {}, false, {"Q:\\a"}},
      {"empty", u"", {}, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    for (const char16_t* folder : c.unmakeable) services.unmakeableFolders.insert(folder);
    EXPECT_EQ(ForceDirectories(services, c.folder), c.result);
    std::vector<std::string> made;
    for (const std::string& call : services.calls) {
      if (call.rfind("MakeDirectory ", 0) == 0) made.push_back(call.substr(14));
    }
    EXPECT_EQ(made, c.made);
  }
}

TEST(WindowsNameRulesTest, Table) {
  using Kind = WindowsNameFault::Kind;
  constexpr std::optional<Kind> kFine;
  const std::u16string longest(255, u'a');
  const struct {
    std::u16string name;
    std::optional<Kind> kind;
    const char16_t* detail;
  } cases[] = {
      {u"vanto-setup.exe", kFine, u""},
      {u"새 버전 설치.exe", kFine, u""},
      {u"setup#2.exe", kFine, u""},
      {u".profile", kFine, u""},
      {u"nul", Kind::kDevice, u"NUL"},
      {u"Con.exe", Kind::kDevice, u"CON"},
      {u"lpt1.exe", Kind::kDevice, u"LPT1"},
      {u"COM9.tar.gz", Kind::kDevice, u"COM9"},
      {u"com0", kFine, u""},
      {u"LPT0.exe", kFine, u""},
      {u"nul:", Kind::kDevice, u"NUL"},
      {u"Com1.exe:", Kind::kDevice, u"COM1"},
      {u"setup.exe:", Kind::kRefusedCharacter, u":"},
      {u"COM\u00B9.exe", Kind::kDevice, u"COM\u00B9"},
      {u"aux .txt", Kind::kDevice, u"AUX"},
      {u"nul.", Kind::kDevice, u"NUL"},
      {u"conout$", Kind::kDevice, u"CONOUT$"},
      {u"console.exe", kFine, u""},
      {u"lpt10.exe", kFine, u""},
      {u"comx.exe", kFine, u""},
      {u"nul-setup.exe", kFine, u""},
      {u"setup<1>.exe", Kind::kRefusedCharacter, u"<"},
      {u"a>b", Kind::kRefusedCharacter, u">"},
      {u"a:b.exe", Kind::kRefusedCharacter, u":"},
      {u"say\"hi\".exe", Kind::kRefusedCharacter, u"\""},
      {u"a/b", Kind::kRefusedCharacter, u"/"},
      {u"a\\b", Kind::kRefusedCharacter, u"\\"},
      {u"a|b", Kind::kRefusedCharacter, u"|"},
      {u"setup?.exe", Kind::kRefusedCharacter, u"?"},
      {u"*.exe", Kind::kRefusedCharacter, u"*"},
      {u"tab\there", Kind::kRefusedCharacter, u"\t"},
      {u"setup.", Kind::kChangedBySaving, u"setup"},
      {u"setup.exe ", Kind::kChangedBySaving, u"setup.exe"},
      {u"setup. . ", Kind::kChangedBySaving, u"setup"},
      {u"..", Kind::kChangedBySaving, u""},
      {u".", Kind::kChangedBySaving, u""},
      {u"...", Kind::kChangedBySaving, u""},
      {longest, kFine, u""},
      {longest.substr(0, 251), kFine, u""},
      {longest + u"a", Kind::kTooLong, u""},
      {std::u16string(300, u'\uD55C'), Kind::kTooLong, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    const std::optional<WindowsNameFault> fault = WindowsNameRules(c.name);
    if (c.kind == kFine) {
      EXPECT_FALSE(fault.has_value());
      EXPECT_TRUE(IsPlainFileName(c.name));
      continue;
    }
    EXPECT_FALSE(IsPlainFileName(c.name));
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->kind, *c.kind);
    EXPECT_EQ(Utf16ToUtf8(fault->detail), Utf16ToUtf8(c.detail));
  }
  // No name at all: nothing to save, though no rule of a name is broken.
  EXPECT_FALSE(WindowsNameRules(u"").has_value());
  EXPECT_FALSE(IsPlainFileName(u""));
}

}  // namespace
}  // namespace vanto::update
