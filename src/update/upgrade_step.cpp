#include "update/upgrade_step.h"

#include <cstdint>
#include <string>
#include <utility>

#include "platform/utf.h"
#include "update/file_names.h"
#include "update/update_signature.h"

namespace vanto::update {
namespace {

constexpr char16_t kDownloading[] = u"업그레이드화일 다운로드중...";
constexpr char16_t kDownloaded[] = u"다운로드가 완료 되었습니다. 잠시만 기다려 주세요...";

// ShellExecuteW reports success with a value above 32.
constexpr std::intptr_t kShellOpenSucceeded = 32;

}  // namespace

bool ServerIsNewer(const UpdateRunState& state) {
  return !(state.LocalVersion >= state.ServerVersion);
}

DownloadPlace InstallerPlace(const UpdateRunState& state) {
  return {state.InfoServerDir + state.ExeDir, state.TempDir + state.ExeDir};
}

net::FetchOptions InstallerFetchOptions(const UpdateRunState& state, net::FetchOptions options) {
  if (!state.UpdateKey) return options;
  // The signature binds ExeDir as UTF-8: a name that does not survive the round trip (a lone
  // surrogate) would share its signed text with another name.
  if (!IsPlainFileName(state.ExeDir) ||
      platform::Utf8ToUtf16(platform::Utf16ToUtf8(state.ExeDir)) != state.ExeDir) {
    throw ESignatureError();
  }
  return WithInstallerSignatureCheck(std::move(options), state.UpdateKey,
                                     {state.ServerVerText, state.ExeDir}, state.ExeSig);
}

void UpgradeStep(UpdateRunState& state, platform::Services& services, UpgradeView& view,
                 const net::FetchOptions& fetchOptions) {
  const bool serverIsNewer = ServerIsNewer(state);
  if (serverIsNewer) {
    view.SetNameText(std::u16string());
    view.SetCountText(std::u16string());
    view.SetNameText(state.ExeDir);
    const DownloadPlace place = InstallerPlace(state);
    state.DownloadUrl = place.url;
    state.LocalFile = place.path;
    view.SetStateText(kDownloading);
    view.PaintLabelsNow();
    // A signature that does not fit refuses the installer before it is saved.
    net::FetchToFile(state.DownloadUrl, state.LocalFile,
                     InstallerFetchOptions(state, fetchOptions));
  }

  view.SetStateText(kDownloaded);
  view.PaintLabelsNow();
  // Only a downloaded installer is opened: without one, LocalFile still names the information
  // file, which the shell would merely show in a text editor.
  if (serverIsNewer) {
    state.InstallerOpened = services.ShellOpen(state.LocalFile) > kShellOpenSucceeded;
  }
  view.CloseWindow();
}

}  // namespace vanto::update
