// vanto-site: the vendor's side of an update. `make` writes a site the client reads as intended;
// `check` runs the client's steps against a published site and says what a user would see.
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/utf.h"
#include "public_key_file.h"
#include "site_check.h"
#include "site_make.h"
#include "site_rules.h"
#include "update/version.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include "installer_signer.h"
#include "update/update_signature.h"
#endif

namespace {

namespace fs = std::filesystem;
using vanto::platform::Utf8ToUtf16;

constexpr char kUsage[] =
    "usage: vanto-site make --version V --installer FILE --server-dir URL [--key PRIVATE.pem]\n"
    "                       [--info-name NAME] [--info-text TEXT] [--local-alias TEXT] OUTDIR\n"
    "       vanto-site check SERVERDIR --installed V [--info-name NAME]\n"
    "                        [--public-key PUBLIC.pem] [--expect-current] [--scratch DIR]\n"
    "                        [--code-page N]\n"
    "make writes OUTDIR/NAME (newvanto.ini) and the installer, or nothing when a value would be\n"
    "misread by the client. check does what a client at version V would do against SERVERDIR\n"
    "and exits with 0 when it would upgrade (with --expect-current: find nothing to do), the\n"
    "same on every Windows; a file without a byte-order mark is read in code page N (949).\n";

int Usage(const std::string& problem) {
  std::cerr << "vanto-site: " << problem << "\n" << kUsage;
  return 2;
}

struct Arguments {
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;
  bool expectCurrent = false;
};

// Options that take a value, by command.
bool TakesValue(const std::string& command, const std::string& option) {
  static const std::map<std::string, std::vector<std::string>> kOptions = {
      {"make",
       {"--version", "--installer", "--server-dir", "--key", "--info-name", "--info-text",
        "--local-alias"}},
      {"check", {"--installed", "--info-name", "--public-key", "--scratch", "--code-page"}}};
  for (const std::string& known : kOptions.at(command)) {
    if (known == option) return true;
  }
  return false;
}

std::optional<std::string> Parse(const std::string& command, const std::vector<std::string>& args,
                                 Arguments& parsed) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (command == "check" && arg == "--expect-current") {
      parsed.expectCurrent = true;
    } else if (arg.starts_with("--")) {
      if (!TakesValue(command, arg)) return "unknown option " + arg;
      if (i + 1 == args.size()) return "an option without its value: " + arg;
      if (parsed.options.count(arg) != 0) return "given twice: " + arg;
      parsed.options[arg] = args[++i];
    } else {
      parsed.positional.push_back(arg);
    }
  }
  if (parsed.positional.size() != 1) {
    return command == "make" ? "one OUTDIR is needed" : "one SERVERDIR is needed";
  }
  return {};
}

fs::path PathOf(const std::string& utf8) {
  return fs::path(Utf8ToUtf16(utf8));
}

vanto::site::Signer PlatformSigner() {
#ifdef _WIN32
  return {};
#else
  return [](const fs::path& key, const std::u16string& version, const std::u16string& exeDir,
            std::string_view installer) {
    return vanto::update::EncodeBase64(vanto::sign::SignInstaller(
        key.string(), vanto::platform::Utf16ToUtf8(version), vanto::platform::Utf16ToUtf8(exeDir),
        std::span<const char>(installer.data(), installer.size())));
  };
#endif
}

int Make(const Arguments& args) {
  for (const char* required : {"--version", "--installer", "--server-dir"}) {
    if (args.options.count(required) == 0) return Usage(std::string("missing ") + required);
  }
  vanto::site::SiteRequest request;
  request.version = Utf8ToUtf16(args.options.at("--version"));
  request.installer = PathOf(args.options.at("--installer"));
  request.serverDir = Utf8ToUtf16(args.options.at("--server-dir"));
  request.outDir = PathOf(args.positional[0]);
  if (auto key = args.options.find("--key"); key != args.options.end()) {
    request.key = PathOf(key->second);
  }
  if (auto name = args.options.find("--info-name"); name != args.options.end()) {
    request.infoName = Utf8ToUtf16(name->second);
  }
  if (auto text = args.options.find("--info-text"); text != args.options.end()) {
    request.infoText = Utf8ToUtf16(text->second);
  }
  if (auto alias = args.options.find("--local-alias"); alias != args.options.end()) {
    request.localAlias = Utf8ToUtf16(alias->second);
  }
  return vanto::site::MakeSite(request, PlatformSigner(), std::cout) ? 0 : 1;
}

// A fresh folder under the system's temporary folder, removed when the check ends.
class ScratchFolder {
 public:
  explicit ScratchFolder(std::optional<fs::path> given) {
    if (given) {
      path_ = *given;
      fs::create_directories(path_);
      return;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      fs::path candidate = fs::temp_directory_path() / ("vanto-site-" + std::to_string(random()));
      if (fs::create_directory(candidate)) path_ = candidate, owned_ = true;
    }
    if (path_.empty()) throw std::runtime_error("cannot make a scratch folder");
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (owned_) fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
  bool owned_ = false;
};

int Check(const Arguments& args) {
  if (args.options.count("--installed") == 0) return Usage("missing --installed");
  vanto::site::CheckRequest request;
  request.serverDir = Utf8ToUtf16(args.positional[0]);
  request.installedText = Utf8ToUtf16(args.options.at("--installed"));
  const std::optional<double> installed = vanto::update::ParseVersion(request.installedText, u'.');
  if (!installed)
    return Usage("--installed is not a version number: " + args.options.at("--installed"));
  request.installed = *installed;
  request.expectCurrent = args.expectCurrent;
  if (auto page = args.options.find("--code-page"); page != args.options.end()) {
    const std::string& digits = page->second;
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != digits.npos) {
      return Usage("--code-page is not a code page number: " + digits);
    }
    request.codePage = static_cast<unsigned>(std::stoul(digits));
  }
  if (auto name = args.options.find("--info-name"); name != args.options.end()) {
    request.infoName = Utf8ToUtf16(name->second);
    // The check writes the file under this name: it must stay inside the scratch folder.
    if (auto problem = vanto::site::FileNameProblem("--info-name", request.infoName)) {
      return Usage(*problem);
    }
  }
  if (auto key = args.options.find("--public-key"); key != args.options.end()) {
    std::string problem;
    request.key = vanto::site::ReadPublicKeyFile(PathOf(key->second), problem);
    if (!request.key) return Usage("--public-key " + key->second + ": " + problem);
  }
  std::optional<fs::path> given;
  if (auto scratch = args.options.find("--scratch"); scratch != args.options.end()) {
    given = PathOf(scratch->second);
  }
  try {
    ScratchFolder scratch(given);
    request.scratch = scratch.Path();
    return vanto::site::CheckSite(request, std::cout) ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "vanto-site: " << error.what() << "\n";
    return 1;
  }
}

int Run(const std::vector<std::string>& all) {
  if (all.empty()) return Usage("no command");
  const std::string& command = all[0];
  if (command == "-h" || command == "--help") {
    std::cout << kUsage;
    return 0;
  }
  if (command != "make" && command != "check") return Usage("unknown command " + command);
  Arguments args;
  if (auto problem = Parse(command, {all.begin() + 1, all.end()}, args)) return Usage(*problem);
  return command == "make" ? Make(args) : Check(args);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(vanto::platform::Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  }
  return Run(args);
}
#else
int main(int argc, char** argv) {
  return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
