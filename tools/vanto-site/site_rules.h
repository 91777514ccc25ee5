// What the client would misread in an information file's values. Each rule gives the problem as
// a sentence that names the value and says why, or nothing when the value travels intact.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto::site {

// `entry` names the value in messages, e.g. "VER" or "the installer's name".
using Problem = std::optional<std::string>;

// VER: digits with at most one "." among them, which the client's version rule reads as written.
Problem VersionTextProblem(std::u16string_view text);
// Any text entry: no line break, no blank or quote at either end (the INI reader drops them), and
// not longer than the reader hands back.
Problem EntryTextProblem(std::string_view entry, std::u16string_view text);
// A base URL the client can fetch from: http://, a host, and the final "/" it appends names to.
Problem ServerDirProblem(std::u16string_view url);
// A file name that reaches the server as the client encodes it and is saved under the same name
// in the client's download folder: the URL's rules and Windows' rules together.
Problem FileNameProblem(std::string_view entry, std::u16string_view name);
// A name the server is asked for differently than it is saved ("?", "#", "%").
Problem UrlNameProblem(std::string_view entry, std::u16string_view name);
// A name Windows does not save as it is (update::WindowsNameRules), and what the client meets.
Problem WindowsNameProblem(std::string_view entry, std::u16string_view name);

// A warning for a VER that clients with a decimal comma cannot read, or nothing.
Problem VersionTextWarning(std::u16string_view text);

// The text in double quotes, UTF-8, for messages.
std::string Quoted(std::u16string_view text);

}  // namespace vanto::site
