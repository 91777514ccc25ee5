// The server's information file: where it comes from, where it is saved and what is read from it.
#pragma once

#include "net/fetch.h"
#include "platform/services.h"
#include "update/netproc.h"

namespace vanto::update {

// RegServerDir + RegInfoFName, saved as TempDir + RegInfoFName.
DownloadPlace InformationFilePlace(const UpdateRunState& state);

// Downloads RegServerDir + RegInfoFName into TempDir + RegInfoFName and reads it. Download errors
// propagate; nothing is read then.
void LoadServerInfo(UpdateRunState& state, platform::Services& services,
                    const net::FetchOptions& fetchOptions);

// Reads the entries of the file that state.Info is open on. A VER that is not a number reads as 0.
void ReadServerInfo(UpdateRunState& state, platform::Services& services);

}  // namespace vanto::update
