// `vanto-site check`: one client run against a published site, with the client's own code, into
// a scratch folder, told step by step.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "platform/signature.h"

namespace vanto::site {

struct CheckRequest {
  std::u16string serverDir;  // as the client's registry holds it
  std::u16string infoName = u"newvanto.ini";
  double installed = 0;  // the registry's Ver
  std::u16string installedText;
  std::optional<platform::P256PublicKey> key;  // the key built into the client, if any
  bool expectCurrent = false;
  // The ANSI code page a file without a byte-order mark is read in: the program's users' (Korean).
  unsigned codePage = 949;
  std::filesystem::path scratch;  // the only folder written to
};

// True when the client would upgrade (with expectCurrent: would find nothing to do).
bool CheckSite(const CheckRequest& request, std::ostream& report);

}  // namespace vanto::site
