#include "update/file_names.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vanto::update
