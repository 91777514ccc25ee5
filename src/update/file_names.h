// Path helpers that behave as the platform's path rules do, over plain texts.
#pragma once

#include <string>

#include "platform/services.h"

namespace vanto::update {

// Replaces everything from the last "." after the last "\" or ":" with `extension`; appends it
// when the name has no extension.
std::u16string ChangeFileExt(const std::u16string& path, const std::u16string& extension);

// Creates `folder` with every missing parent, top level first. One trailing backslash is ignored.
// False (never an error) when a level cannot be made.
bool ForceDirectories(platform::Services& services, std::u16string folder);

}  // namespace vanto::update
