#include "site_rules.h"

#include "net/errors.h"
#include "net/staging_path.h"
#include "net/url.h"
#include "platform/utf.h"
#include "update/file_names.h"
#include "update/ini_text.h"
#include "update/version.h"

namespace vanto::site {
namespace {

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

bool DropsAtEnd(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'"' || c == u'\'';
}

std::string Describe(char16_t c) {
  if (c == u' ') return "a blank";
  if (c == u'\t') return "a tab";
  return "a quote";
}

bool StartsWithHttp(std::u16string_view url) {
  constexpr std::u16string_view kHttp = u"http://";
  if (url.size() < kHttp.size()) return false;
  for (size_t i = 0; i < kHttp.size(); ++i) {
    char16_t c = url[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != kHttp[i]) return false;
  }
  return true;
}

}  // namespace

std::string Quoted(std::u16string_view text) {
  return "\"" + platform::Utf16ToUtf8(text) + "\"";
}

Problem VersionTextProblem(std::u16string_view text) {
  if (Problem entry = EntryTextProblem("VER", text)) return entry;
  bool plain = !text.empty() && IsDigit(text.front()) && IsDigit(text.back());
  size_t dots = 0;
  for (char16_t c : text) {
    if (c == u'.') {
      ++dots;
    } else if (!IsDigit(c)) {
      plain = false;
    }
  }
  if (!plain || dots > 1 || !update::ParseVersion(text, u'.')) {
    return "VER " + Quoted(text) +
           ": not a plain decimal number (digits with at most one \".\" between them); the "
           "client reads it as 0 and never upgrades";
  }
  return {};
}

Problem VersionTextWarning(std::u16string_view text) {
  if (text.find(u'.') == text.npos) return {};
  return "VER " + Quoted(text) +
         ": clients whose number format uses a decimal comma read it as 0 and do not upgrade; "
         "a whole number avoids that";
}

Problem EntryTextProblem(std::string_view entry, std::u16string_view text) {
  const std::string name(entry);
  if (text.find_first_of(u"\r\n") != text.npos) {
    return name + " " + Quoted(text) + ": a line break ends the entry for the client's reader";
  }
  if (!text.empty() && DropsAtEnd(text.front())) {
    return name + " " + Quoted(text) + ": begins with " + Describe(text.front()) +
           ", which the client's INI reader drops";
  }
  if (!text.empty() && DropsAtEnd(text.back())) {
    return name + " " + Quoted(text) + ": ends with " + Describe(text.back()) +
           ", which the client's INI reader drops";
  }
  if (text.size() > update::kLongestProfileString) {
    return name + " (" + std::to_string(text.size()) + " characters): longer than the " +
           std::to_string(update::kLongestProfileString) + " the client reads; it would be cut";
  }
  return {};
}

Problem ServerDirProblem(std::u16string_view url) {
  if (Problem text = EntryTextProblem("ServerDir", url)) return text;
  if (!StartsWithHttp(url)) {
    return "ServerDir " + Quoted(url) + ": not an http:// URL; the client fetches plain HTTP only";
  }
  if (url.back() != u'/') {
    return "ServerDir " + Quoted(url) +
           ": does not end in \"/\"; the client appends the file name to it as it is";
  }
  try {
    const net::ParsedUrl parsed = net::SplitUrl(url);
    if (!parsed.query.empty() || parsed.path.find(u'#') != parsed.path.npos) {
      return "ServerDir " + Quoted(url) + ": holds \"?\" or \"#\", which cut the names after it";
    }
  } catch (const vanto::Error& error) {
    return "ServerDir " + Quoted(url) +
           ": the client refuses it: " + platform::Utf16ToUtf8(error.Message());
  }
  return {};
}

Problem UrlNameProblem(std::string_view entry, std::u16string_view name) {
  // "?" starts a query and "#" a fragment on the request line, and "%" would be decoded by the
  // server: the server is asked for another name than the one saved.
  const size_t bad = name.find_first_of(u"?#%");
  if (bad == name.npos) return {};
  return std::string(entry) + " " + Quoted(name) + ": \"" +
         platform::Utf16ToUtf8(name.substr(bad, 1)) +
         "\" cannot travel in the URL or be saved under that name by the client";
}

Problem WindowsNameProblem(std::string_view entry, std::u16string_view name) {
  const std::optional<update::WindowsNameFault> fault = update::WindowsNameRules(name);
  if (!fault) return {};
  const std::string what = std::string(entry) + " " + Quoted(name) + ": ";
  const std::string detail = platform::Utf16ToUtf8(fault->detail);
  switch (fault->kind) {
    case update::WindowsNameFault::kDevice:
      return what + "Windows takes it for the device " + detail +
             ", with or without an extension: the client writes the installer into the device, "
             "or cannot open it, and nothing is installed";
    case update::WindowsNameFault::kRefusedCharacter:
      if (detail == "/" || detail == "\\") {
        return what + "\"" + detail + "\" separates folders on Windows: the file is saved in " +
               "another folder than the download folder";
      }
      if (detail == ":") {
        return what +
               "\":\" is refused in a Windows file name (on NTFS it names a data stream): the "
               "client cannot save the file under that name";
      }
      return what +
             (fault->detail[0] < 0x20 ? std::string("a control character") : "\"" + detail + "\"") +
             " is refused in a Windows file name: the client's save fails";
    case update::WindowsNameFault::kChangedBySaving:
      return what + "Windows drops a final " + (name.back() == u'.' ? "\".\"" : "blank") +
             " when it saves the file: it saves " + Quoted(fault->detail) +
             ", which the shell does not open as the installer";
    case update::WindowsNameFault::kTooLong:
      return what + std::to_string(name.size()) + " characters, more than the " +
             std::to_string(net::kMaxNameLength) +
             " of a Windows file name: the client's staging file stays within that limit, but "
             "the file itself cannot be created";
  }
  return {};
}

Problem FileNameProblem(std::string_view entry, std::u16string_view name) {
  const std::string what(entry);
  if (Problem text = EntryTextProblem(entry, name)) return text;
  if (name.empty() || name == u"." || name == u"..") {
    return what + " " + Quoted(name) + ": not a file name";
  }
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) {
      return what + " " + Quoted(name) + ": holds a control character";
    }
  }
  if (Problem url = UrlNameProblem(entry, name)) return url;
  return WindowsNameProblem(entry, name);
}

}  // namespace vanto::site
