#include "installer_name.h"

#include <string>

#include "platform/utf.h"
#include "update/file_names.h"

namespace vanto::site {
namespace {

char16_t AsciiLower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EndsWithAsciiCase(std::u16string_view name, std::u16string_view suffix) {
  if (name.size() <= suffix.size()) return false;
  const std::u16string_view end = name.substr(name.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (AsciiLower(end[i]) != suffix[i]) return false;
  }
  return true;
}

}  // namespace

Problem InstallerNameProblem(std::u16string_view name) {
  const std::string what = "ExeDir " + Quoted(name) + ": ";
  if (name.find_first_of(u"\\/") != name.npos || name == u"." || name == u"..") {
    return what +
           "a path, not a file of the download folder; which folders a user's machine has and "
           "how its Windows resolves the path decide the outcome, so give a plain file name";
  }
  if (const auto fault = update::WindowsNameRules(name)) {
    switch (fault->kind) {
      case update::WindowsNameFault::kDevice:
        return what + "Windows 10 takes it for the device " + platform::Utf16ToUtf8(fault->detail) +
               ", Windows 11 only without an extension; on a machine that has the port the "
               "installer goes to it: the outcome depends on the user's Windows";
      case update::WindowsNameFault::kChangedBySaving:
        return what +
               "a final dot or blank, which Windows drops, and the shell then opens a file "
               "without the name's extension as the user's machine chooses";
      case update::WindowsNameFault::kRefusedCharacter:
      case update::WindowsNameFault::kTooLong:
        return what + "not a name Windows saves (see above)";
    }
  }
  if (name.empty()) return what + "empty: the client fetches the base URL into its folder";
  if (!EndsWithAsciiCase(name, u".exe") && !EndsWithAsciiCase(name, u".msi")) {
    return what +
           "the shell starts a program or installer only for \".exe\" and \".msi\" on every "
           "Windows; any other name opens with the program the user's machine chooses for it, "
           "or asks, and nothing installs (\".com\", \".bat\" and \".cmd\" run too, but as "
           "console programs that virus scanners and policies block)";
  }
  if (kAssumedFolderLength + name.size() > kLongestOpenedPath) {
    return what + std::to_string(name.size()) + " characters: with a download folder of " +
           std::to_string(kAssumedFolderLength) +
           " characters, as a user's can be, the path passes the " +
           std::to_string(kLongestOpenedPath) +
           " characters that the shell opens; the save works but nothing installs, so keep "
           "the name within " +
           std::to_string(kLongestOpenedPath - kAssumedFolderLength) + " characters";
  }
  return {};
}

}  // namespace vanto::site
