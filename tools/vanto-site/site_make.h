// `vanto-site make`: an update site (the information file and the installer) that the client
// reads as intended, refused as a whole when any value would be misread.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vanto::site {

struct SiteRequest {
  std::u16string version;  // the VER text, exactly as it goes into the file
  std::filesystem::path installer;
  std::u16string serverDir;
  std::optional<std::filesystem::path> key;  // the vendor's private key, for ExeSig
  std::u16string infoName = u"newvanto.ini";
  std::optional<std::u16string> infoText;  // Infotxt; "vanto " + version when not given
  std::u16string localAlias = u"vanto";
  std::filesystem::path outDir;
};

// Signs the installer's bytes for `versionText` and `exeDir` with the key; the base64 ExeSig, or
// throws std::runtime_error with the reason.
using Signer =
    std::function<std::string(const std::filesystem::path& key, const std::u16string& versionText,
                              const std::u16string& exeDir, std::string_view installer)>;

// The information file's bytes for these entries: CRLF lines, plain ASCII when every text is
// ASCII, else UTF-16LE after its byte-order mark (read alike on every code page).
std::string InformationFileBytes(const SiteRequest& request, const std::u16string& installerName,
                                 const std::string& exeSig);

// Writes the site into request.outDir, or nothing when anything is refused: the refusals (and the
// warnings) go to `report`, one per line. Without a signer a key is refused. True when written.
bool MakeSite(const SiteRequest& request, const Signer& signer, std::ostream& report);

}  // namespace vanto::site
