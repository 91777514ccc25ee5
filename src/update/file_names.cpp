#include "update/file_names.h"

#include <vector>

namespace vanto::update {

std::u16string ChangeFileExt(const std::u16string& path, const std::u16string& extension) {
  const size_t dot = path.find_last_of(u".\\:");
  if (dot == std::u16string::npos || path[dot] != u'.') return path + extension;
  return path.substr(0, dot) + extension;
}

namespace {

// "C:\a\b" -> "C:\a"; nothing left to cut for a drive or a bare name.
bool ParentFolder(const std::u16string& folder, std::u16string& parent) {
  const size_t cut = folder.find_last_of(u"\\:");
  if (cut == std::u16string::npos) return false;
  parent = folder.substr(0, folder[cut] == u':' ? cut + 1 : cut);
  return !parent.empty() && parent.size() < folder.size();
}

// A drive ("C:"), a drive root, or a bare UNC prefix: nothing that can be created.
bool IsRootLike(const std::u16string& folder) {
  return folder.size() < 3;
}

}  // namespace

bool ForceDirectories(platform::Services& services, std::u16string folder) {
  if (!folder.empty() && folder.back() == u'\\') folder.pop_back();
  if (folder.empty()) return false;

  // Walk up to the deepest level that exists, then create downwards.
  std::vector<std::u16string> missing;
  std::u16string level = folder;
  while (!IsRootLike(level) && !services.DirectoryExists(level)) {
    missing.push_back(level);
    std::u16string parent;
    if (!ParentFolder(level, parent)) break;
    level = parent;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!services.MakeDirectory(*it)) return false;
  }
  return true;
}

}  // namespace vanto::update
