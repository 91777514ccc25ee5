#include "site_make.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "platform/utf.h"
#include "site_rules.h"

namespace vanto::site {
namespace {

namespace fs = std::filesystem;

struct Entry {
  const char16_t* name;
  std::u16string value;
};

bool IsAscii(const std::u16string& text) {
  for (char16_t c : text) {
    if (c > 0x7F) return false;
  }
  return true;
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

std::optional<std::string> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) return {};
  return bytes;
}

// Written beside its final name and then renamed, so a failed write leaves no half file there.
void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::path part = path;
  part += ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(part, ignored);
      throw std::runtime_error("cannot write " + part.string());
    }
  }
  fs::rename(part, path);
}

}  // namespace

std::string InformationFileBytes(const SiteRequest& request, const std::u16string& installerName,
                                 const std::string& exeSig) {
  std::u16string text;
  auto section = [&](const char16_t* name) { text += u"[" + std::u16string(name) + u"]\r\n"; };
  auto entry = [&](const char16_t* name, const std::u16string& value) {
    text += std::u16string(name) + u"=" + value + u"\r\n";
  };
  section(u"VANTO_INFO");
  entry(u"VER", request.version);
  entry(u"InfoFName", request.infoName);
  entry(u"ServerDir", request.serverDir);
  section(u"VANTOK_INFO");
  entry(u"Infotxt", request.infoText ? *request.infoText : u"vanto " + request.version);
  section(u"VANTO_INFO_PC");
  entry(u"LocalAlias", request.localAlias);
  entry(u"ExeDir", installerName);
  entry(u"ExeDirUp", u"");
  if (!exeSig.empty()) entry(u"ExeSig", platform::Utf8ToUtf16(exeSig));

  if (IsAscii(text)) return platform::Utf16ToUtf8(text);
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

bool MakeSite(const SiteRequest& request, const Signer& signer, std::ostream& report) {
  const std::u16string installerName = request.installer.filename().u16string();
  std::vector<std::string> refusals;
  auto refuse = [&](Problem problem) {
    if (problem) refusals.push_back(*problem);
  };
  refuse(VersionTextProblem(request.version));
  refuse(ServerDirProblem(request.serverDir));
  refuse(FileNameProblem("the installer's name", installerName));
  refuse(FileNameProblem("InfoFName", request.infoName));
  if (request.infoText) refuse(EntryTextProblem("Infotxt", *request.infoText));
  refuse(EntryTextProblem("LocalAlias", request.localAlias));
  if (Lower(installerName) == Lower(request.infoName)) {
    refusals.push_back("the installer's name " + Quoted(installerName) +
                       ": the same as the information file's, which it would replace");
  }

  const std::optional<std::string> installer = ReadAll(request.installer);
  if (!installer) {
    refusals.push_back("installer " + Quoted(request.installer.u16string()) + ": cannot be read");
  } else if (installer->empty()) {
    refusals.push_back("installer " + Quoted(request.installer.u16string()) + ": is empty");
  }

  std::string exeSig;
  if (request.key && refusals.empty()) {
    if (!signer) {
      refusals.push_back("key " + Quoted(request.key->u16string()) +
                         ": this build of vanto-site cannot sign; sign with the Linux build");
    } else {
      try {
        exeSig = signer(*request.key, request.version, request.installer);
      } catch (const std::exception& error) {
        refusals.push_back("key " + Quoted(request.key->u16string()) + ": " + error.what());
      }
    }
  }

  if (!refusals.empty()) {
    for (const std::string& refusal : refusals) report << "refused: " << refusal << "\n";
    report << "nothing written to " << request.outDir.string() << "\n";
    return false;
  }
  if (Problem warning = VersionTextWarning(request.version)) {
    report << "warning: " << *warning << "\n";
  }
  if (!request.key) {
    report << "warning: no --key: no ExeSig, so clients built with a vendor key refuse this "
              "installer\n";
  }

  const std::string information = InformationFileBytes(request, installerName, exeSig);
  try {
    fs::create_directories(request.outDir);
    const fs::path installerCopy = request.outDir / request.installer.filename();
    std::error_code same;
    if (!fs::equivalent(request.installer, installerCopy, same)) {
      WriteFile(installerCopy, *installer);
    }
    // The installer first: no moment shows a new information file beside an old installer.
    WriteFile(request.outDir / fs::path(request.infoName), information);
  } catch (const std::exception& error) {
    report << "failed: " << error.what() << "\n";
    return false;
  }
  report << "wrote " << (request.outDir / request.installer.filename()).string() << " ("
         << installer->size() << " bytes)\n";
  report << "wrote " << (request.outDir / fs::path(request.infoName)).string() << " ("
         << information.size() << " bytes, "
         << (static_cast<unsigned char>(information[0]) == 0xFF ? "UTF-16LE with byte-order mark"
                                                                : "ASCII")
         << (exeSig.empty() ? "" : ", signed") << ")\n";
  return true;
}

}  // namespace vanto::site
