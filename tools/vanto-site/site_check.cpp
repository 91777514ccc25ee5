#include "site_check.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "app/error_text.h"
#include "code_page.h"
#include "installer_name.h"
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
#include "update/version.h"

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

// What the request makes of a "#", "?" or "%" in ExeDir. The outcome is the server's, which the
// check meets: the warning says only that the file asked for is named otherwise.
Problem UrlNameWarning(const std::u16string& exeDir) {
  const size_t bad = exeDir.find_first_of(u"#?%");
  if (bad == exeDir.npos) return {};
  const char* effect = exeDir[bad] == u'#'   ? "where it ends the path"
                       : exeDir[bad] == u'?' ? "where it begins a query"
                                             : "where the server decodes it with what follows";
  return "ExeDir " + Quoted(exeDir) + ": the client sends \"" + Utf16ToUtf8(exeDir.substr(bad, 1)) +
         "\" in the request as it is, " + effect +
         ": the server's file is not named as the file saved (make refuses such names)";
}

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

bool IsAsciiOnly(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) > 0x7F) return false;
  }
  return true;
}

bool IsUtf8(std::string_view bytes) {
  return Utf16ToUtf8(platform::Utf8ToUtf16(bytes)) == bytes;
}

// The file as the user's Windows reads it: UTF-16 after its mark, else in the user's ANSI code
// page. Where that is not the bytes as they are, a UTF-16 copy of that reading is what both
// builds of the check read. Returns the path to read; problems that make the outcome depend on
// the user's Windows go to `errors`.
std::u16string FileAsRead(const std::u16string& downloaded, const fs::path& scratch,
                          unsigned codePage, std::ostream& report,
                          std::vector<std::string>& errors) {
  const std::string bytes = ReadAll(fs::path(downloaded));
  const bool utf8Mark = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  if (utf8Mark) {
    // The mark's characters join the first line: only a section header there is lost.
    const std::string first = bytes.substr(3, bytes.find_first_of("\r\n") - 3);
    const size_t text = first.find_first_not_of(" \t");
    if (text != first.npos && first[text] == '[') {
      const size_t close = first.find(']', text);
      report << "  warning: the file begins with a UTF-8 byte-order mark, which Windows' reader "
                "takes for text: the first section "
             << first.substr(text, close == first.npos ? close : close - text + 1)
             << " is not found\n";
    } else {
      report << "  the file begins with a UTF-8 byte-order mark, which Windows' reader takes for "
                "text on the first line; that line holds no section, so nothing is lost\n";
    }
  }
  if ((bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) || IsAsciiOnly(bytes)) {
    return downloaded;
  }
  const std::optional<std::u16string> text = DecodeCodePage(bytes, codePage);
  if (!text) throw std::runtime_error("code page " + std::to_string(codePage) + " is unknown here");
  const std::string page = "code page " + std::to_string(codePage);
  if (!utf8Mark && IsUtf8(bytes) && platform::Utf8ToUtf16(bytes) != *text) {
    errors.push_back("the file is UTF-8 without a byte-order mark: a Windows on " + page +
                     " (--code-page), as the program's users have, reads its non-ASCII text "
                     "as other characters, which is what the values above are; save it as "
                     "UTF-16LE with the mark, as make does");
  } else if (!utf8Mark) {
    report << "  warning: non-ASCII text without a UTF-16 byte-order mark, read as " << page
           << " (--code-page); Windows on other code pages read it otherwise: save it as "
              "UTF-16LE with the mark\n";
  }
  fs::create_directories(scratch / "as-read");
  const fs::path copy = scratch / "as-read" / fs::path(downloaded).filename();
  std::ofstream out(copy, std::ios::binary | std::ios::trunc);
  out.write("\xFF\xFE", 2);
  for (char16_t c : *text) {
    const char unit[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    out.write(unit, 2);
  }
  out.close();
  if (!out) throw std::runtime_error("cannot write " + copy.string());
  report << "  read as " << page << ", as a Windows of the program's users reads it\n";
  return copy.u16string();
}

}  // namespace

std::string ResultLine(const CheckRequest& request, const std::string& what);

namespace {

// The client's save of the installer fails with a box: whatever the body held, as the file is
// made before any of it is judged. Returns what the client does.
std::string SaveFails(const update::DownloadPlace& place, const SavePrediction& save,
                      std::ostream& report) {
  report << "  the client saves it as " << Utf16ToUtf8(place.path);
  if (save.savedAs != place.path) report << ", that is " << Utf16ToUtf8(save.savedAs);
  report << "\n";
  report << "  the save fails: " << save.why << "\n";
  report << "  the user sees the box \"" << Utf16ToUtf8(save.boxText) << "\""
         << (save.portMayExist ? ", or nothing where the port exists" : "") << "\n";
  return save.portMayExist ? "shows a box, or nothing where the port exists, and does not upgrade"
                           : "shows the box and does not upgrade";
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
  // Whatever makes the outcome depend on the user's Windows: the verdict is then an error.
  std::vector<std::string> errors;
  const std::u16string asRead =
      FileAsRead(infoCopy, request.scratch, request.codePage, report, errors);
  // The check prints what Windows does where it follows the rules modelled here, then the
  // verdict: the errors, or what the client does, the same on every Windows.
  auto finish = [&](const std::string& what, bool ok) {
    if (errors.empty()) {
      report << ResultLine(request, what);
      return ok;
    }
    report << "  where Windows follows the rules above, the client " << what << "\n";
    for (const std::string& error : errors) report << "error: " << error << "\n";
    report << ResultLine(request, "depends on the user's Windows: no verdict, see the errors");
    return false;
  };
  state.Info = update::InfoReader{asRead};
  ProfileReader reader;
  update::ReadServerInfo(state, reader);
  // A client without a key never reads ExeSig, but the vendor wants to see what is published.
  if (!state.UpdateKey) {
    state.ExeSig = reader.ReadProfileString(asRead, u"VANTO_INFO_PC", u"ExeSig", u"");
  }
  report << "read:\n";
  ReportValues(state, report);
  if (!state.InfoFileName.empty() && state.InfoFileName != state.RegInfoFName) {
    report << "  warning: InfoFName " << Quoted(state.InfoFileName)
           << " points to another file than the " << Quoted(state.RegInfoFName)
           << " fetched; the client ignores it\n";
  }
  // A file that is no information file of the client's sections (an HTML page, say) has no VER.
  constexpr char16_t kAbsent[] = u"\x01";
  const bool hasVer = reader.ReadProfileString(asRead, u"VANTO_INFO", u"VER", kAbsent) != kAbsent;
  Problem verProblem = VersionTextProblem(state.ServerVerText);
  if (!hasVer) {
    verProblem =
        "no VER in [VANTO_INFO]: not an information file of the client's sections; the "
        "client reads the version as 0 and never upgrades";
  } else if (verProblem) {
    // The client reads VER in the user's number format: with a decimal point or comma.
    const double point = update::ParseVersion(state.ServerVerText, u'.').value_or(0);
    const double comma = update::ParseVersion(state.ServerVerText, u',').value_or(0);
    if (point != 0 || comma != 0) {
      std::ostringstream readings;
      if (point == comma) {
        readings << "as " << point << " with a decimal point or comma; give that plain number, "
                 << "which make requires";
      } else {
        readings << "as " << point << " with a decimal point, as " << comma
                 << " with a decimal comma: how it reads depends on the user's number format";
      }
      errors.push_back("VER " + Quoted(state.ServerVerText) +
                       ": not a plain decimal number; a client reads it " + readings.str());
      verProblem.reset();
    }
  }
  const Problem problems[] = {
      verProblem, VersionTextWarning(state.ServerVerText), ServerDirProblem(state.InfoServerDir),
      EntryTextProblem("ExeDir", state.ExeDir), UrlNameWarning(state.ExeDir)};
  for (const Problem& problem : problems) {
    if (problem) report << "  warning: " << *problem << "\n";
  }

  if (!update::ServerIsNewer(state)) {
    report << "decision: nothing to do, the installed " << Utf16ToUtf8(request.installedText)
           << " is not lower than the server's " << Quoted(state.ServerVerText) << "\n";
    if (request.expectCurrent && verProblem) {
      // Nothing to do for every client, and so for one that should find a current site too.
      errors.push_back("--expect-current: " + *verProblem);
    }
    return finish("finds nothing to do", request.expectCurrent);
  }
  report << "decision: upgrade, the server's " << Quoted(state.ServerVerText)
         << " is higher than the installed " << Utf16ToUtf8(request.installedText) << "\n";
  if (Problem name = InstallerNameProblem(state.ExeDir)) errors.push_back(*name);

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
  if (!fetched) return finish("shows the box and does not upgrade", false);
  if (save.outcome == SavePrediction::kBox) return finish(SaveFails(place, save, report), false);
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
  if (save.outcome == SavePrediction::kNotOpened) {
    report << "  nothing is installed: " << save.why << "\n";
    return finish("opens no installer, closes its window and does not upgrade", false);
  }
  if (save.outsideFolder) {
    report << "  warning: ExeDir " << Quoted(state.ExeDir)
           << " is saved outside the download folder, as " << Utf16ToUtf8(save.savedAs) << "\n";
  }
  return finish(
      "upgrades to " + Quoted(state.ServerVerText) + " and opens " + Utf16ToUtf8(save.savedAs),
      !request.expectCurrent);
}

}  // namespace vanto::site
