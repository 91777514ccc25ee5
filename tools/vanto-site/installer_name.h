// The installer names whose outcome is the same on every supported Windows and every user's
// machine: the only ones `check` gives a verdict for.
#pragma once

#include <cstddef>
#include <string_view>

#include "site_rules.h"

namespace vanto::site {

// The longest download folder assumed for a user: a profile under a long domain account name
// with Documents redirected into a synchronised folder ("C:\Users\<name>.<DOMAIN>\OneDrive -
// <company>\Documents\vanto\Temp\") reaches this.
inline constexpr size_t kAssumedFolderLength = 120;
// The longest path the shell opens: MAX_PATH less its terminating zero.
inline constexpr size_t kLongestOpenedPath = 259;

// Why the client's outcome for ExeDir `name` depends on the user's Windows, or nothing: a plain
// file name in the download folder (update::IsPlainFileName, which also judges device names by
// the older Windows rules), that the shell opens as a program or installer on every Windows and
// whose path stays within what the shell opens.
Problem InstallerNameProblem(std::u16string_view name);

}  // namespace vanto::site
