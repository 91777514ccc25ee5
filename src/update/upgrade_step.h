// The upgrade step: compare versions, download the installer while the window says so, open it.
#pragma once

#include <string>

#include "net/fetch.h"
#include "platform/services.h"
#include "update/netproc.h"

namespace vanto::update {

// The upgrade window as the step sees it.
class UpgradeView {
 public:
  virtual ~UpgradeView() = default;
  virtual void SetStateText(const std::u16string& text) = 0;  // lblState
  virtual void SetNameText(const std::u16string& text) = 0;   // lblName
  virtual void SetCountText(const std::u16string& text) = 0;  // lblCnt
  // Paints the panel and its labels at once, without a message loop.
  virtual void PaintLabelsNow() = 0;
  // Closes the upgrade window through the process-wide reference.
  virtual void CloseWindow() = 0;
};

// The decision: only a local version lower than the server's downloads; equal ones do not.
bool ServerIsNewer(const UpdateRunState& state);

// InfoServerDir + ExeDir, saved as TempDir + ExeDir: the same name on the server and locally.
DownloadPlace InstallerPlace(const UpdateRunState& state);

// The options of the installer download. With a vendor key they add the signature check over the
// installer, VER and ExeDir, and first refuse (ESignatureError, before any request) an ExeDir that
// is not a plain file name of the download folder: signed or not, the entry must not choose
// another of the user's files to replace. Unchanged without a key.
net::FetchOptions InstallerFetchOptions(const UpdateRunState& state, net::FetchOptions options);

void UpgradeStep(UpdateRunState& state, platform::Services& services, UpgradeView& view,
                 const net::FetchOptions& fetchOptions);

}  // namespace vanto::update
