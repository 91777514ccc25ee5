// Path helpers that behave as the platform's path rules do, over plain texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/services.h"

namespace vanto::update {

// Replaces everything from the last "." after the last "\" or ":" with `extension`; appends it
// when the name has no extension.
std::u16string ChangeFileExt(const std::u16string& path, const std::u16string& extension);

// Creates `folder` with every missing parent, top level first. One trailing backslash is ignored.
// False (never an error) when a level cannot be made.
bool ForceDirectories(platform::Services& services, std::u16string folder);

// Why Windows does not save a file under `name` (one name, no folder), as the client on Windows
// meets it. "." and ".." are steps between folders, not names, and are not judged here.
struct WindowsNameFault {
  enum Kind {
    kDevice,            // CON, NUL, COM1, ... with or without an extension: the device is opened
    kRefusedCharacter,  // a control character or one of < > : " / \ | ? *
    kChangedBySaving,   // a final "." or blank, which Windows drops from the name it saves
    kTooLong,           // more than net::kMaxNameLength UTF-16 units
  };
  Kind kind;
  // The device's name, the refused character, or the name Windows saves instead.
  std::u16string detail;
};
std::optional<WindowsNameFault> WindowsNameRules(std::u16string_view name);

// A name that every Windows saves as it stands, in the folder it is given: no separator, no "."
// or "..", no drive or stream, no device name of any version's rules, no final dot or blank. The
// only names that a signed information file may give its installer.
bool IsPlainFileName(std::u16string_view name);

}  // namespace vanto::update
