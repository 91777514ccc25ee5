// The installer that `make` publishes, read once: what is copied and what is signed are these
// bytes, whatever the file does afterwards.
#pragma once

#include <filesystem>
#include <string>

#include "site_rules.h"

namespace vanto::site {

struct InstallerFile {
  std::string bytes;
  Problem
      problem;  // why it is refused: not a file, unreadable, empty, or more than the client takes
};

InstallerFile ReadInstallerFile(const std::filesystem::path& path);

}  // namespace vanto::site
