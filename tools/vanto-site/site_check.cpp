#include "site_check.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "app/error_text.h"
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

  // True when the file was saved.
  bool Run(const std::u16string& url, const std::u16string& path, net::FetchOptions options) {
    report_ << what_ << ": " << Utf16ToUtf8(url) << "\n";
    options.onResponse = [this](const net::Response& response) {
      report_ << "  < " << Utf16ToUtf8(response.statusLine) << "\n";
      headers_ = response.headers;
    };
    try {
      report_ << "  > " << RequestLine(url) << "\n";
      net::FetchToFile(url, path, options);
    } catch (const vanto::Error& error) {
      report_ << "  failed: " << error.Kind() << ": " << Utf16ToUtf8(error.Message()) << "\n";
      report_ << "  the user sees the box \"" << Utf16ToUtf8(app::ErrorBoxText(error)) << "\"\n";
      return false;
    }
    size_ = fs::file_size(fs::path(path));
    report_ << "  saved " << size_ << " bytes as " << fs::path(path).string() << "\n";
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

// A name that would make the client save outside its download folder, or not at all.
bool LeavesTheFolder(const std::u16string& name) {
  return name.empty() || name == u"." || name == u".." || name.find_first_of(u"/\\:") != name.npos;
}

}  // namespace

bool CheckSite(const CheckRequest& request, std::ostream& report) {
  update::UpdateRunState state;
  state.DecimalSeparator = u'.';
  state.LocalVersion = request.installed;
  state.RegServerDir = request.serverDir;
  state.RegInfoFName = request.infoName;
  state.TempDir = request.scratch.u16string() + u"/";
  state.UpdateKey = request.key;
  state.DownloadUrl = state.RegServerDir + state.RegInfoFName;
  state.LocalFile = state.TempDir + state.RegInfoFName;

  Download info(report, "information file");
  if (!info.Run(state.DownloadUrl, state.LocalFile, {})) {
    report << "result: a client at " << Utf16ToUtf8(request.installedText)
           << " shows the box and does not upgrade\n";
    return false;
  }
  WarnAboutEncoding(ReadAll(fs::path(state.LocalFile)), report);
  state.Info = update::InfoReader{state.LocalFile};
  ProfileReader reader;
  update::ReadServerInfo(state, reader);
  report << "read:\n";
  ReportValues(state, report);
  if (!state.InfoFileName.empty() && state.InfoFileName != state.RegInfoFName) {
    report << "  warning: InfoFName " << Quoted(state.InfoFileName)
           << " points to another file than the " << Quoted(state.RegInfoFName)
           << " fetched; the client ignores it\n";
  }
  const Problem problems[] = {
      VersionTextProblem(state.ServerVerText), VersionTextWarning(state.ServerVerText),
      ServerDirProblem(state.InfoServerDir), FileNameProblem("ExeDir", state.ExeDir)};
  for (const Problem& problem : problems) {
    if (problem) report << "  warning: " << *problem << "\n";
  }

  const bool serverIsNewer = !(state.LocalVersion >= state.ServerVersion);
  if (!serverIsNewer) {
    report << "decision: nothing to do, the installed " << Utf16ToUtf8(request.installedText)
           << " is not lower than the server's " << Quoted(state.ServerVerText) << "\n";
    report << "result: a client at " << Utf16ToUtf8(request.installedText)
           << " finds nothing to do\n";
    return request.expectCurrent;
  }
  report << "decision: upgrade, the server's " << Quoted(state.ServerVerText)
         << " is higher than the installed " << Utf16ToUtf8(request.installedText) << "\n";
  if (LeavesTheFolder(state.ExeDir)) {
    report << "  ExeDir " << Quoted(state.ExeDir)
           << " is no file name in the download folder; the installer is not fetched\n";
    report << "result: a client at " << Utf16ToUtf8(request.installedText) << " does not upgrade\n";
    return false;
  }

  state.DownloadUrl = state.InfoServerDir + state.ExeDir;
  state.LocalFile = state.TempDir + state.ExeDir;
  Download installer(report, "installer");
  const bool saved = installer.Run(
      state.DownloadUrl, state.LocalFile,
      update::WithInstallerSignatureCheck({}, state.UpdateKey, state.ServerVerText, state.ExeSig));
  if (!saved) {
    report << "result: a client at " << Utf16ToUtf8(request.installedText)
           << " shows the box and does not upgrade\n";
    return false;
  }
  if (const std::string* type = installer.Header("Content-Type")) {
    if (SameAsciiText(type->substr(0, 9), "text/html")) {
      report << "  warning: the installer is served as " << *type
             << "; a proxy may rewrite or block it\n";
    }
  }
  if (state.UpdateKey) {
    report << "  signature: ExeSig verifies for VER " << Quoted(state.ServerVerText) << "\n";
  } else if (!state.ExeSig.empty()) {
    report << "  signature: not checked (no --public-key)\n";
  }
  report << "result: a client at " << Utf16ToUtf8(request.installedText) << " upgrades to "
         << Quoted(state.ServerVerText) << " and opens " << Utf16ToUtf8(state.ExeDir) << "\n";
  return !request.expectCurrent;
}

}  // namespace vanto::site
