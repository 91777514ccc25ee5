// Where a download is written before it takes its target's place.
#pragma once

#include <cstddef>
#include <string>

namespace vanto::net {

// The most UTF-16 units in one name of a path on Windows. (Linux file systems count 255 bytes of
// UTF-8 instead, so there a long name of letters beyond ASCII can still be refused.)
inline constexpr size_t kMaxNameLength = 255;

// Beside the target, so that the rename stays on one volume: the target's name with ".part"
// added, its name cut where the whole would pass kMaxNameLength, and never the target itself.
// Always the same name for a target, so that a run ended while saving leaves at most one. (Only
// Windows makes the file there; elsewhere the staging file is made in its folder, without a name.)
std::u16string StagingPath(const std::u16string& path);

}  // namespace vanto::net
