#include "update/file_names.h"

#include <vector>

#include "net/staging_path.h"

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

char16_t AsciiUpper(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// Windows takes these for devices in any folder, whatever follows the first "." and with blanks
// before it.
bool IsDeviceName(std::u16string_view name) {
  std::u16string base(name.substr(0, name.find(u'.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (char16_t& c : base) c = AsciiUpper(c);
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" ||
      base == u"CONOUT$") {
    return true;
  }
  if (base.size() != 4 || (base.compare(0, 3, u"COM") != 0 && base.compare(0, 3, u"LPT") != 0)) {
    return false;
  }
  // Port 0 does not exist for Windows: "COM0" is an ordinary name.
  const char16_t digit = base[3];
  return (digit >= u'1' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
         digit == u'\u00B3';
}

}  // namespace

std::optional<WindowsNameFault> WindowsNameRules(std::u16string_view name) {
  // "nul:" is written as a drive is, and Windows opens the device NUL for it.
  if (name.size() > 1 && name.back() == u':' && IsDeviceName(name.substr(0, name.size() - 1))) {
    name.remove_suffix(1);
  }
  for (char16_t c : name) {
    if (c < 0x20 || std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos) {
      return WindowsNameFault{WindowsNameFault::kRefusedCharacter, std::u16string(1, c)};
    }
  }
  if (name.size() > net::kMaxNameLength) {
    return WindowsNameFault{WindowsNameFault::kTooLong, {}};
  }
  if (IsDeviceName(name)) {
    std::u16string device(name.substr(0, name.find(u'.')));
    while (!device.empty() && device.back() == u' ') device.pop_back();
    for (char16_t& c : device) c = AsciiUpper(c);
    return WindowsNameFault{WindowsNameFault::kDevice, device};
  }
  if (!name.empty() && (name.back() == u'.' || name.back() == u' ')) {
    std::u16string saved(name);
    while (!saved.empty() && (saved.back() == u'.' || saved.back() == u' ')) saved.pop_back();
    return WindowsNameFault{WindowsNameFault::kChangedBySaving, saved};
  }
  return {};
}

bool IsPlainFileName(std::u16string_view name) {
  return !name.empty() && !WindowsNameRules(name);
}

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
