// vanto-sign: prints the ExeSig line that goes into the information file's [VANTO_INFO_PC]
// section for one installer, the VER text that announces it and the ExeDir it is saved as.
#include <cstdio>
#include <string>
#include <string_view>

#include "installer_signer.h"
#include "update/update_signature.h"

namespace {

constexpr char kUsage[] =
    "usage: vanto-sign --key PRIVATE.pem --version TEXT --exe-dir NAME INSTALLER\n"
    "Prints the ExeSig= line for the information file. TEXT and NAME must be the VER and the\n"
    "ExeDir entries exactly as the information file holds them.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "vanto-sign: %s\n%s", problem, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string key;
  std::string version;
  std::string exeDir;
  std::string installer;
  bool haveKey = false;
  bool haveVersion = false;
  bool haveExeDir = false;
  bool haveInstaller = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--key" || arg == "--version" || arg == "--exe-dir") {
      if (i + 1 == argc) return Usage("an option without its value");
      const bool isKey = arg == "--key";
      const bool isVersion = arg == "--version";
      (isKey ? haveKey : isVersion ? haveVersion : haveExeDir) = true;
      (isKey ? key : isVersion ? version : exeDir) = argv[++i];
    } else if (arg.starts_with("-")) {
      return Usage("unknown option");
    } else if (haveInstaller) {
      return Usage("more than one installer");
    } else {
      installer = arg;
      haveInstaller = true;
    }
  }
  if (!haveKey || !haveVersion || !haveExeDir || !haveInstaller) return Usage("missing arguments");

  try {
    vanto::platform::P256Signature signature =
        vanto::sign::SignInstaller(key, version, exeDir, installer);
    std::printf("ExeSig=%s\n", vanto::update::EncodeBase64(signature).c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const vanto::sign::SignError& error) {
    std::fprintf(stderr, "vanto-sign: %s\n", error.what());
    return 1;
  }
}
