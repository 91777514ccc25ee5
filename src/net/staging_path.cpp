#include "net/staging_path.h"

#include <string_view>

namespace vanto::net {
namespace {

constexpr std::u16string_view kSuffix = u".part";

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

std::u16string StagingPath(const std::u16string& path) {
  const size_t separator = path.find_last_of(u"/\\");
  const size_t nameStart = separator == std::u16string::npos ? 0 : separator + 1;
  const std::u16string_view name = std::u16string_view(path).substr(nameStart);
  size_t keep = name.size();
  if (keep + kSuffix.size() > kMaxNameLength) {
    keep = kMaxNameLength - kSuffix.size();
    // A target of the longest name that itself ends in ".part" would be its own staging file.
    if (name.size() == kMaxNameLength && name.substr(keep) == kSuffix) --keep;
    // Never half of a letter outside the basic plane.
    if (IsHighSurrogate(name[keep - 1])) --keep;
  }
  return path.substr(0, nameStart + keep) + std::u16string(kSuffix);
}

}  // namespace vanto::net
