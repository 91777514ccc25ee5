#include "site_make.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "net/staging_path.h"
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

// The site's files are written beside their final names first and renamed into place at the
// end; until the last rename has succeeded every step can be undone, so a failure at any point
// leaves the output folder as it was.
class SiteWriter {
 public:
  explicit SiteWriter(const fs::path& outDir) : outDir_(outDir) {}
  SiteWriter(const SiteWriter&) = delete;
  SiteWriter& operator=(const SiteWriter&) = delete;
  ~SiteWriter() {
    if (!done_) Undo();
  }

  void Begin() {
    if (!fs::exists(outDir_)) {
      fs::path top = outDir_;
      while (top.has_parent_path() && !fs::exists(top.parent_path())) top = top.parent_path();
      fs::create_directories(outDir_);
      created_ = top;
    }
  }

  // Written under the client's staging name (within the name limit), renamed by Commit.
  void Stage(const fs::path& path, const std::string& bytes) {
    const fs::path part(net::StagingPath(path.u16string()));
    staged_.push_back({path, part, {}, false});
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + part.string());
  }

  // Renames in the order staged; a file that was there before is kept aside until the end, in a
  // folder of make's own. Anything else in the way (a folder) makes the rename fail.
  void Commit() {
    for (File& file : staged_) {
      if (fs::is_regular_file(fs::symlink_status(file.final))) {
        file.previous = AsideFolder() / file.final.filename();
        fs::rename(file.final, file.previous);
      }
      fs::rename(file.part, file.final);
      file.renamed = true;
    }
    done_ = true;
    std::error_code ignored;
    for (File& file : staged_) {
      if (!file.previous.empty()) fs::remove(file.previous, ignored);
    }
    if (!aside_.empty()) fs::remove(aside_, ignored);
  }

 private:
  struct File {
    fs::path final;
    fs::path part;
    fs::path previous;
    bool renamed = false;
  };

  // A new folder inside the output folder, under a name that nothing there has and that no file
  // of the site takes: whatever the folder already held stays as it was.
  const fs::path& AsideFolder() {
    for (unsigned n = 0; aside_.empty(); ++n) {
      const fs::path candidate = outDir_ / (".previous-" + std::to_string(n));
      bool taken = false;
      for (const File& file : staged_) {
        taken =
            taken ||
            Lower(candidate.filename().u16string()) == Lower(file.final.filename().u16string()) ||
            Lower(candidate.filename().u16string()) == Lower(file.part.filename().u16string());
      }
      if (taken || fs::exists(fs::symlink_status(candidate))) continue;
      std::error_code error;
      if (fs::create_directory(candidate, error)) {
        aside_ = candidate;
      } else if (error) {
        throw fs::filesystem_error("cannot keep the older files aside", candidate, error);
      }
    }
    return aside_;
  }

  void Undo() {
    std::error_code ignored;
    for (auto it = staged_.rbegin(); it != staged_.rend(); ++it) {
      fs::remove(it->part, ignored);
      if (it->renamed) fs::remove(it->final, ignored);
      if (!it->previous.empty() && fs::exists(it->previous, ignored)) {
        fs::rename(it->previous, it->final, ignored);
      }
    }
    if (!aside_.empty()) fs::remove(aside_, ignored);
    if (!created_.empty()) fs::remove_all(created_, ignored);
  }

  fs::path outDir_;
  fs::path created_;
  fs::path aside_;
  std::vector<File> staged_;
  bool done_ = false;
};

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
  // Each file is written under its staging name and then renamed: no name of one file may be a
  // name of the other, or one replaces the other on the way.
  const std::u16string infoStaging = net::StagingPath(request.infoName);
  const std::u16string installerStaging = net::StagingPath(installerName);
  if (Lower(installerName) == Lower(request.infoName)) {
    refusals.push_back("the installer's name " + Quoted(installerName) +
                       ": the same as the information file's, which it would replace");
  } else if (Lower(installerName) == Lower(infoStaging) ||
             Lower(installerStaging) == Lower(request.infoName) ||
             Lower(installerStaging) == Lower(infoStaging)) {
    refusals.push_back("the installer's name " + Quoted(installerName) +
                       ": it or the name it is written under first (" + Quoted(installerStaging) +
                       ") is the information file's " + Quoted(request.infoName) + " or " +
                       Quoted(infoStaging) + ", which one would replace on the way");
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
        exeSig = signer(*request.key, request.version, installerName, request.installer);
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
    SiteWriter writer(request.outDir);
    writer.Begin();
    const fs::path installerCopy = request.outDir / request.installer.filename();
    std::error_code same;
    if (!fs::equivalent(request.installer, installerCopy, same)) {
      writer.Stage(installerCopy, *installer);
    }
    writer.Stage(request.outDir / fs::path(request.infoName), information);
    // The installer first: no moment shows a new information file beside an old installer.
    writer.Commit();
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
