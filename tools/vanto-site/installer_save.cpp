#include "installer_save.h"

#include <optional>
#include <vector>

#include "net/staging_path.h"
#include "platform/utf.h"
#include "site_rules.h"
#include "update/file_names.h"

namespace vanto::site {
namespace {

// The system's texts, as the client's error box shows them (with the period it adds).
constexpr char16_t kInvalidName[] =
    u"The filename, directory name, or volume label syntax is incorrect.";
constexpr char16_t kPathNotFound[] = u"The system cannot find the path specified.";
constexpr char16_t kAccessDenied[] = u"Access is denied.";
constexpr char16_t kInvalidHandle[] = u"The handle is invalid.";
constexpr char16_t kFileNotFound[] = u"The system cannot find the file specified.";

struct Folder {
  std::u16string name;
  bool exists;
  bool refused = false;  // a name Windows refuses for any file or folder
};

std::u16string WithoutFinalDotsAndBlanks(std::u16string name) {
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
  return name;
}

std::vector<std::u16string> Split(std::u16string_view path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'\\' || c == u'/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

std::u16string Joined(const std::vector<Folder>& folders, const std::u16string& name) {
  std::u16string path;
  for (const Folder& folder : folders) path += folder.name + u"\\";
  return path + name;
}

SavePrediction Box(std::u16string savedAs, const std::u16string& reason, std::string why) {
  SavePrediction prediction;
  prediction.outcome = SavePrediction::kBox;
  prediction.boxText = u"Cannot create file \"" + savedAs + u"\". " + reason;
  prediction.savedAs = std::move(savedAs);
  prediction.why = std::move(why);
  return prediction;
}

}  // namespace

SavePrediction PredictSave(const std::u16string& folder, const std::u16string& path) {
  const std::vector<std::u16string> known = Split(folder);
  std::vector<Folder> at;
  for (const std::u16string& name : known) at.push_back({name, true, false});
  const size_t downloadDepth = at.size();

  // Every piece after the download folder, normalised as Windows does before it opens anything:
  // "." stays, ".." climbs (never above the drive), and a folder name loses its final dots and
  // blanks (one of only those is no step at all). A name goes down into a folder that exists only
  // where it is one of the download folder's own.
  const std::vector<std::u16string> pieces = Split(std::u16string_view(path).substr(folder.size()));
  const bool namesAFolder = pieces.empty() || path.back() == u'\\' || path.back() == u'/' ||
                            WithoutFinalDotsAndBlanks(pieces.back()).empty();
  const size_t folderPieces = namesAFolder ? pieces.size() : pieces.size() - 1;
  for (size_t i = 0; i < folderPieces; ++i) {
    if (pieces[i] == u"..") {
      if (at.size() > 1) at.pop_back();
      continue;
    }
    const std::u16string piece = WithoutFinalDotsAndBlanks(pieces[i]);
    if (piece.empty()) continue;
    const std::optional<update::WindowsNameFault> fault = update::WindowsNameRules(piece);
    const bool refused = fault && (fault->kind == update::WindowsNameFault::kRefusedCharacter ||
                                   fault->kind == update::WindowsNameFault::kTooLong);
    // Below a folder that exists, only the download folder's own next level is known to exist.
    const bool exists =
        !fault && at.back().exists && at.size() < known.size() && SameName(known[at.size()], piece);
    at.push_back({piece, exists, refused});
  }
  const std::u16string target = Joined(at, namesAFolder ? u"" : pieces.back());
  for (const Folder& level : at) {
    if (level.refused) {
      return Box(target, kInvalidName,
                 "the folder name " + Quoted(level.name) + " is not one Windows accepts");
    }
  }
  for (const Folder& level : at) {
    if (!level.exists) {
      return Box(target, kPathNotFound,
                 "the folder " + Quoted(Joined(at, u"")) +
                     " is not in a user's download folder or above it: the save fails where it "
                     "does not exist");
    }
  }
  // A last name that is the download folder's own next level (as in "..\Temp") is that folder.
  if (namesAFolder || (at.size() < known.size() && SameName(known[at.size()], pieces.back()))) {
    std::u16string named = Joined(at, namesAFolder ? u"" : pieces.back());
    return Box(named, kAccessDenied,
               "it names the folder " + Quoted(named) + ", not a file; a folder is not replaced");
  }

  // The drive's root and the folder of all users' profiles take files from administrators only.
  if (at.size() < 3) {
    return Box(Joined(at, pieces.back()), kAccessDenied,
               "it lands in " + Quoted(Joined(at, u"")) +
                   ", where Windows lets only administrators create files");
  }

  const std::u16string& name = pieces.back();
  SavePrediction prediction;
  prediction.savedAs = Joined(at, name);
  prediction.outsideFolder = at.size() != downloadDepth;
  const std::optional<update::WindowsNameFault> fault = update::WindowsNameRules(name);
  if (!fault) {
    const std::u16string staging = net::StagingPath(prediction.savedAs);
    if (staging != prediction.savedAs + u".part") {
      prediction.staging = "the download is staged as " + Quoted(staging) + ", cut to " +
                           std::to_string(net::kMaxNameLength) + " characters";
    }
    return prediction;
  }
  switch (fault->kind) {
    case update::WindowsNameFault::kRefusedCharacter:
    case update::WindowsNameFault::kTooLong:
      return Box(prediction.savedAs, kInvalidName, *WindowsNameProblem("ExeDir", name));
    case update::WindowsNameFault::kDevice: {
      // The system names the device as the name was written, without its extension.
      std::u16string typed = name.substr(0, name.find(u'.'));
      if (!typed.empty() && typed.back() == u':') typed.pop_back();
      while (!typed.empty() && typed.back() == u' ') typed.pop_back();
      const std::u16string device = u"\\\\.\\" + typed;
      if (fault->detail == u"NUL") {
        prediction.outcome = SavePrediction::kNotOpened;
        prediction.savedAs = device;
        break;
      }
      // The client has no console, and a port that the machine lacks cannot be opened; where
      // the port exists the installer goes to it, and nothing is installed either.
      const bool console = fault->detail.rfind(u"CON", 0) == 0;
      SavePrediction box = Box(device, console ? kInvalidHandle : kFileNotFound,
                               *WindowsNameProblem("ExeDir", name));
      box.portMayExist = !console;
      return box;
    }
    case update::WindowsNameFault::kChangedBySaving:
      prediction.outcome = SavePrediction::kNotOpened;
      prediction.savedAs = Joined(at, fault->detail);
      break;
  }
  prediction.why = *WindowsNameProblem("ExeDir", name);
  return prediction;
}

}  // namespace vanto::site
