// A file that `make` creates itself: a new name, never an existing file and never through a link.
#pragma once

#include <filesystem>

#include "platform/file.h"

namespace vanto::site {

struct ExclusiveCreation {
  platform::OutputFile file;  // open when the file was made
  bool existed = false;       // a file, link or anything else already stands at the name
};

ExclusiveCreation CreateExclusively(const std::filesystem::path& path);

}  // namespace vanto::site
