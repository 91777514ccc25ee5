#include "site_make.h"

#include <stdexcept>
#include <system_error>
#include <vector>

#include "exclusive_file.h"
#include "installer_file.h"
#include "installer_name.h"
#include "interrupt_guard.h"
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

// The site's files are written beside their final names first and renamed into place at the
// end; until the last rename has succeeded every step can be undone, so a failure at any point
// leaves the output folder as it was.
class SiteWriter {
 public:
  SiteWriter(const fs::path& outDir, InterruptGuard& interrupts)
      : outDir_(outDir), interrupts_(interrupts) {}
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

  // Written under the client's staging name (within the name limit), renamed by Commit; the
  // file is made new there, and whatever already stands at that name is left as it is.
  void Stage(const fs::path& path, const std::string& bytes) {
    const fs::path part(net::StagingPath(path.u16string()));
    ExclusiveCreation created = CreateExclusively(part);
    if (created.existed) {
      throw std::runtime_error(part.string() +
                               " already exists (a file or link that make did not write); it is "
                               "left as it is: remove it and make the site again");
    }
    if (!created.file.IsOpen()) throw std::runtime_error("cannot create " + part.string());
    staged_.push_back({path, part, {}, false});
    if (!created.file.Write(bytes.data(), bytes.size()) || !created.file.Close()) {
      throw std::runtime_error("cannot write " + part.string());
    }
    interrupts_.ThrowIfInterrupted();
  }

  // Renames in the order staged; whatever was there before but a folder (a file, a link as the
  // link, a pipe) is kept aside until the end, in a folder of make's own. A folder in the way
  // makes the rename fail.
  void Commit() {
    for (File& file : staged_) {
      const fs::file_status there = fs::symlink_status(file.final);
      if (fs::exists(there) && !fs::is_directory(there)) {
        file.previous = AsideFolder() / file.final.filename();
        fs::rename(file.final, file.previous);
      }
      interrupts_.ThrowIfInterrupted();
      fs::rename(file.part, file.final);
      file.renamed = true;
    }
    interrupts_.ThrowIfInterrupted();
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
      if (!it->previous.empty() && fs::exists(fs::symlink_status(it->previous, ignored))) {
        fs::rename(it->previous, it->final, ignored);
      }
    }
    if (!aside_.empty()) fs::remove(aside_, ignored);
    if (!created_.empty()) fs::remove_all(created_, ignored);
  }

  fs::path outDir_;
  InterruptGuard& interrupts_;
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
  if (Problem name = FileNameProblem("the installer's name", installerName)) {
    refusals.push_back(*name);
  } else {
    // The name is ExeDir: one that check gives no verdict for is no site to publish.
    refuse(InstallerNameProblem(installerName));
  }
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

  const InstallerFile installer = ReadInstallerFile(request.installer);
  refuse(installer.problem);

  if (request.key && !signer) {
    refusals.push_back("key " + Quoted(request.key->u16string()) +
                       ": this build of vanto-site cannot sign; sign with the Linux build");
  }
  auto refused = [&] {
    for (const std::string& refusal : refusals) report << "refused: " << refusal << "\n";
    report << "nothing written to " << request.outDir.string() << "\n";
    return false;
  };
  if (!refusals.empty()) return refused();
  // Signed before the folder is touched and before signals are held back: a key's pass phrase
  // prompt can be interrupted as usual, and the bytes signed are the bytes copied.
  std::string exeSig;
  if (request.key) {
    try {
      exeSig = signer(*request.key, request.version, installerName, installer.bytes);
    } catch (const std::exception& error) {
      refusals.push_back("key " + Quoted(request.key->u16string()) + ": " + error.what());
      return refused();
    }
  }
  if (Problem warning = VersionTextWarning(request.version)) {
    report << "warning: " << *warning << "\n";
  }
  if (!request.key) {
    report << "warning: no --key: no ExeSig, so clients built with a vendor key refuse this "
              "installer\n";
  }

  const std::string information = InformationFileBytes(request, installerName, exeSig);
  // Declared first, so that an interrupted run is undone before the signal ends the process.
  InterruptGuard interrupts;
  try {
    SiteWriter writer(request.outDir, interrupts);
    writer.Begin();
    // Staged from the one read of the installer, even over the installer itself.
    writer.Stage(request.outDir / request.installer.filename(), installer.bytes);
    writer.Stage(request.outDir / fs::path(request.infoName), information);
    // The installer first: no moment shows a new information file beside an old installer.
    writer.Commit();
  } catch (const std::exception& error) {
    report << "failed: " << error.what() << "\n";
    report.flush();
    return false;
  }
  report << "wrote " << (request.outDir / request.installer.filename()).string() << " ("
         << installer.bytes.size() << " bytes)\n";
  report << "wrote " << (request.outDir / fs::path(request.infoName)).string() << " ("
         << information.size() << " bytes, "
         << (static_cast<unsigned char>(information[0]) == 0xFF ? "UTF-16LE with byte-order mark"
                                                                : "ASCII")
         << (exeSig.empty() ? "" : ", signed") << ")\n";
  return true;
}

}  // namespace vanto::site
