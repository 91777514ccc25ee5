#include "site_check.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "app/error_text.h"
#include "installer_save.h"
#include "net/errors.h"
#include "net/fetch.h"
#include "net/request.h"
#include "net/response_reader.h"
#include "net/url.h"
#include "platform/utf.h"
#include "site_rules.h"
#include "update/ini_text.h"
#include "update/netproc.h"
#include "update/server_info.h"
#include "update/update_signature.h"
#include "update/upgrade_step.h"

#ifdef _WIN32
#include "platform/win32/services_win.h"
#endif

namespace vanto::site {
namespace {

namespace fs = std::filesystem;
using platform::Utf16ToUtf8;

// The client's INI reading and nothing else: the one service that reading the information file
// asks for. On Windows it is the system's own reader.
class ProfileReader : public platform::Services {
 public:
  std::u16string SpecialFolder(int) override { return {}; }
  bool FileExists(const std::u16string&) override { return false; }
  bool DirectoryExists(const std::u16string&) override { return false; }
  bool Delete(const std::u16string&) override { return false; }
  bool Move(const std::u16string&, const std::u16string&) override { return false; }
  bool MakeDirectory(const std::u16string&) override { return false; }
  void Sleep(unsigned) override {}
  std::unique_ptr<platform::RegistryKey> OpenUserKey(const std::u16string&) override {
    return nullptr;
  }
  std::u16string ReadProfileString(const std::u16string& file, const std::u16string& section,
                                   const std::u16string& key,
                                   const std::u16string& defaultValue) override {
#ifdef _WIN32
    return windows_.ReadProfileString(file, section, key, defaultValue);
#else
    return update::ProfileStringFromFile(file, section, key, defaultValue);
#endif
  }
  std::intptr_t ShellOpen(const std::u16string&) override {
    return 0;
  }

 private:
#ifdef _WIN32
  platform::WindowsServices windows_;
#endif
};

bool SameAsciiText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string RequestLine(const std::u16string& url) {
  const std::string request = net::BuildRequest(net::SplitUrl(url));
  return request.substr(0, request.find("\r\n"));
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One download as the client makes it, reported; the headers it saw land in `headers`.
class Download {
 public:
  Download(std::ostream& report, const char* what) : report_(report), what_(what) {}

  // True when the file was saved. `saveBox`, when given, is the box the client's own save shows:
  // the client makes its file once the head is judged, so a failure from there on is that box.
  bool Run(const std::u16string& url, const std::u16string& path, net::FetchOptions options,
           const std::u16string* saveBox = nullptr) {
    report_ << what_ << ": " << Utf16ToUtf8(url) << "\n";
    options.onResponse = [this](const net::Response& response) {
      report_ << "  < " << Utf16ToUtf8(response.statusLine) << "\n";
      headers_ = response.headers;
    };
    bool bodyBegan = false;
    options.onBodyBegins = [&bodyBegan] { bodyBegan = true; };
    try {
      report_ << "  > " << RequestLine(url) << "\n";
      net::FetchToFile(url, path, options);
    } catch (const vanto::Error& error) {
      if (saveBox && bodyBegan) {
        report_ << "  the client's save fails before the body is judged; the body then fails "
                   "with "
                << error.Kind() << ": " << Utf16ToUtf8(error.Message()) << "\n";
        return true;
      }
      report_ << "  failed: " << error.Kind() << ": " << Utf16ToUtf8(error.Message()) << "\n";
      report_ << "  the user sees the box \"" << Utf16ToUtf8(app::ErrorBoxText(error)) << "\"\n";
      return false;
    }
    size_ = fs::file_size(fs::path(path));
    report_ << "  received " << size_ << " bytes\n";
    if (const std::string* length = Header("Content-Length")) {
      if (*length != std::to_string(size_)) {
        report_ << "  warning: Content-Length " << *length << " differs from the " << size_
                << " bytes saved\n";
      }
    }
    return true;
  }

  const std::string* Header(std::string_view name) const {
    for (const auto& [key, value] : headers_) {
      if (SameAsciiText(key, name)) return &value;
    }
    return nullptr;
  }

 private:
  std::ostream& report_;
  const char* what_;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::uintmax_t size_ = 0;
};

void ReportValues(const update::UpdateRunState& state, std::ostream& report) {
  const std::pair<const char*, const std::u16string*> values[] = {
      {"VER", &state.ServerVerText},       {"InfoFName", &state.InfoFileName},
      {"ServerDir", &state.InfoServerDir}, {"Infotxt", &state.InfoText},
      {"LocalAlias", &state.LocalAlias},   {"ExeDir", &state.ExeDir},
      {"ExeDirUp", &state.ExeDirUp},       {"ExeSig", &state.ExeSig}};
  for (const auto& [name, value] : values) {
    report << "  " << name << " = " << Quoted(*value) << "\n";
  }
  std::ostringstream number;
  number << state.ServerVersion;
  report << "  the server's version reads as " << number.str() << "\n";
}

void WarnAboutEncoding(const std::string& bytes, std::ostream& report) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    report << "  warning: the file begins with a UTF-8 byte-order mark, which Windows' reader "
              "takes for text: the first section is not found\n";
  } else if (!update::IniBytesArePortable(bytes)) {
    report << "  warning: non-ASCII text without a UTF-16 byte-order mark reads differently on "
              "each code page; save it as UTF-16LE with the mark\n";
  }
}

}  // namespace

std::string ResultLine(const CheckRequest& request, const std::string& what);

namespace {

// The client's save of the installer fails with a box: whatever the body held, as the file is
// made before any of it is judged.
bool SaveFails(const CheckRequest& request, const update::DownloadPlace& place,
               const SavePrediction& save, std::ostream& report) {
  report << "  the client saves it as " << Utf16ToUtf8(place.path);
  if (save.savedAs != place.path) report << ", that is " << Utf16ToUtf8(save.savedAs);
  report << "\n";
  report << "  the save fails: " << save.why << "\n";
  report << "  the user sees the box \"" << Utf16ToUtf8(save.boxText) << "\""
         << (save.portMayExist ? ", or nothing where the port exists" : "") << "\n";
  report << ResultLine(request, save.portMayExist
                                    ? "shows a box, or nothing where the port exists, and does "
                                      "not upgrade"
                                    : "shows the box and does not upgrade");
  return false;
}

}  // namespace

// The line that ends every report.
std::string ResultLine(const CheckRequest& request, const std::string& what) {
  return "result: a client at " + Utf16ToUtf8(request.installedText) + " " + what + "\n";
}

bool CheckSite(const CheckRequest& request, std::ostream& report) {
  update::UpdateRunState state;
  state.DecimalSeparator = u'.';
  state.LocalVersion = request.installed;
  state.RegServerDir = request.serverDir;
  state.RegInfoFName = request.infoName;
  // The places are the client's, in a usual user's download folder; what the check itself saves
  // goes into its scratch folder only.
  state.TempDir = kUsualDownloadFolder;
  state.UpdateKey = request.key;
  report << "the client's download folder, as for a usual user: " << Utf16ToUtf8(state.TempDir)
         << "\n";

  const update::DownloadPlace infoPlace = update::InformationFilePlace(state);
  const std::u16string infoCopy =
      (request.scratch / "information").u16string() + u"/" + state.RegInfoFName;
  fs::create_directories(request.scratch / "information");
  Download info(report, "information file");
  if (!info.Run(infoPlace.url, infoCopy, {})) {
    report << ResultLine(request, "shows the box and does not upgrade");
    return false;
  }
  report << "  the client saves it as " << Utf16ToUtf8(infoPlace.path) << "\n";
  WarnAboutEncoding(ReadAll(fs::path(infoCopy)), report);
  state.Info = update::InfoReader{infoCopy};
  ProfileReader reader;
  update::ReadServerInfo(state, reader);
  // A client without a key never reads ExeSig, but the vendor wants to see what is published.
  if (!state.UpdateKey) {
    state.ExeSig = reader.ReadProfileString(infoCopy, u"VANTO_INFO_PC", u"ExeSig", u"");
  }
  report << "read:\n";
  ReportValues(state, report);
  if (!state.InfoFileName.empty() && state.InfoFileName != state.RegInfoFName) {
    report << "  warning: InfoFName " << Quoted(state.InfoFileName)
           << " points to another file than the " << Quoted(state.RegInfoFName)
           << " fetched; the client ignores it\n";
  }
  const Problem problems[] = {
      VersionTextProblem(state.ServerVerText), VersionTextWarning(state.ServerVerText),
      ServerDirProblem(state.InfoServerDir), EntryTextProblem("ExeDir", state.ExeDir),
      UrlNameProblem("ExeDir", state.ExeDir)};
  for (const Problem& problem : problems) {
    if (problem) report << "  warning: " << *problem << "\n";
  }

  if (!update::ServerIsNewer(state)) {
    report << "decision: nothing to do, the installed " << Utf16ToUtf8(request.installedText)
           << " is not lower than the server's " << Quoted(state.ServerVerText) << "\n";
    report << ResultLine(request, "finds nothing to do");
    return request.expectCurrent;
  }
  report << "decision: upgrade, the server's " << Quoted(state.ServerVerText)
         << " is higher than the installed " << Utf16ToUtf8(request.installedText) << "\n";

  const update::DownloadPlace place = update::InstallerPlace(state);
  const SavePrediction save = PredictSave(state.TempDir, place.path);
  net::FetchOptions installerOptions;
  try {
    installerOptions = update::InstallerFetchOptions(state, {});
  } catch (const vanto::Error& error) {
    report << "installer: not requested, ExeDir " << Quoted(state.ExeDir)
           << " is not a plain file name of the download folder, which a signed client refuses\n"
           << "  the user sees the box \"" << Utf16ToUtf8(app::ErrorBoxText(error)) << "\"\n";
    report << ResultLine(request, "shows the box and does not upgrade");
    return false;
  }
  Download installer(report, "installer");
  const bool fetched =
      installer.Run(place.url, (request.scratch / "installer").u16string(), installerOptions,
                    save.outcome == SavePrediction::kBox ? &save.boxText : nullptr);
  if (!fetched) {
    report << ResultLine(request, "shows the box and does not upgrade");
    return false;
  }
  if (save.outcome == SavePrediction::kBox) return SaveFails(request, place, save, report);
  if (const std::string* type = installer.Header("Content-Type")) {
    if (SameAsciiText(type->substr(0, 9), "text/html")) {
      report << "  warning: the installer is served as " << *type
             << "; a proxy may rewrite or block it\n";
    }
  }
  if (state.UpdateKey) {
    report << "  signature: ExeSig verifies for VER " << Quoted(state.ServerVerText)
           << " and ExeDir " << Quoted(state.ExeDir) << "\n";
  } else {
    report << "  signature: not checked (no --public-key)\n";
  }
  report << "  the client saves it as " << Utf16ToUtf8(place.path);
  if (save.savedAs != place.path) report << ", that is " << Utf16ToUtf8(save.savedAs);
  report << "\n";
  if (!save.staging.empty()) report << "  " << save.staging << "\n";
  switch (save.outcome) {
    case SavePrediction::kBox:
      return SaveFails(request, place, save, report);
    case SavePrediction::kNotOpened:
      report << "  nothing is installed: " << save.why << "\n";
      report << ResultLine(request, "opens no installer, closes its window and does not upgrade");
      return false;
    case SavePrediction::kSaved:
      break;
  }
  if (save.outsideFolder) {
    report << "  warning: ExeDir " << Quoted(state.ExeDir)
           << " is saved outside the download folder, as " << Utf16ToUtf8(save.savedAs) << "\n";
  }
  report << ResultLine(request, "upgrades to " + Quoted(state.ServerVerText) + " and opens " +
                                    Utf16ToUtf8(save.savedAs));
  return !request.expectCurrent;
}

}  // namespace vanto::site
