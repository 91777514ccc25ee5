#include "installer_file.h"

#include <fstream>
#include <new>
#include <system_error>

#include "net/response_reader.h"

namespace vanto::site {

InstallerFile ReadInstallerFile(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  InstallerFile installer;
  const std::string what = "installer " + Quoted(path.u16string()) + ": ";
  auto refuse = [&](const std::string& why) {
    installer.bytes.clear();
    installer.problem = what + why;
    return installer;
  };
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (fs::is_directory(status)) return refuse("is a folder");
  // A device never ends (/dev/zero) or gives other bytes to each reader; a pipe is read as it
  // comes, once.
  if (fs::is_character_file(status) || fs::is_block_file(status)) {
    return refuse("is a device, not a file");
  }
  const std::string limit = "more than the " + std::to_string(net::kMaxBodyBytes) +
                            " bytes the client downloads (it shows \"Out of memory.\")";
  if (fs::is_regular_file(status)) {
    const std::uintmax_t size = fs::file_size(path, error);
    if (!error && size > net::kMaxBodyBytes)
      return refuse(std::to_string(size) + " bytes, " + limit);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return refuse("cannot be read");
  char chunk[64 * 1024];
  try {
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
      installer.bytes.append(chunk, static_cast<size_t>(in.gcount()));
      if (installer.bytes.size() > net::kMaxBodyBytes) return refuse(limit);
    }
  } catch (const std::bad_alloc&) {
    return refuse("too large to hold in memory here");
  }
  if (in.bad()) return refuse("cannot be read");
  if (installer.bytes.empty()) return refuse("is empty");
  return installer;
}

}  // namespace vanto::site
