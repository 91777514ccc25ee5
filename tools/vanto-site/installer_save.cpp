#include "installer_save.h"

#include <optional>
#include <vector>

#include "installer_name.h"
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
  bool refused = false;    // a name Windows refuses for any file or folder
  bool adminOnly = false;  // only administrators create files in it
};

// The last name of a path loses all its final dots and blanks.
std::u16string WithoutFinalDotsAndBlanks(std::u16string name) {
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
  return name;
}

// A folder's name on the way loses one final dot and keeps its blanks; a name of three dots or
// more is a name like any other.
std::u16string AsFolderOnTheWay(std::u16string name) {
  if (name.find_first_not_of(u'.') == name.npos) return name;
  if (name.back() == u'.') name.pop_back();
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

// Folders that every Windows has below a user's profile and the drive, besides the download
// folder's own levels, and whether a user may create files in them.
struct StandardFolder {
  const char16_t* path;  // below the profile when it starts with "\\", else from the drive
  bool userWritable;
};
constexpr StandardFolder kKnownFolders[] = {
    {u"\\Desktop", true},         {u"\\Downloads", true},
    {u"\\Music", true},           {u"\\Pictures", true},
    {u"\\Videos", true},          {u"\\AppData", true},
    {u"\\AppData\\Local", true},  {u"\\AppData\\Roaming", true},
    {u"C:\\Users\\Public", true}, {u"C:\\Users\\Public\\Documents", true},
    {u"C:\\Windows", false},      {u"C:\\Program Files", false},
    {u"C:\\ProgramData", true},
};

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

// Whether `path` (no final "\") is a folder that every user's machine has: nothing when it is
// not known to exist, else whether a user may create files in it. `download` is the download
// folder's levels, the first three of which are the profile.
std::optional<bool> KnownFolder(const std::vector<std::u16string>& download,
                                const std::u16string& path) {
  std::u16string level;
  for (size_t i = 0; i < download.size(); ++i) {
    level += (i ? u"\\" : u"") + download[i];
    if (SameName(level, path)) return i >= 2;
  }
  std::u16string profile;
  for (size_t i = 0; i < 3 && i < download.size(); ++i) profile += (i ? u"\\" : u"") + download[i];
  for (const StandardFolder& known : kKnownFolders) {
    const std::u16string full = known.path[0] == u'\\' ? profile + known.path : known.path;
    if (SameName(full, path)) return known.userWritable;
  }
  return {};
}

}  // namespace

SavePrediction PredictSave(const std::u16string& folder, const std::u16string& path) {
  const std::vector<std::u16string> known = Split(folder);
  std::vector<Folder> at;
  for (size_t i = 0; i < known.size(); ++i) at.push_back({known[i], true, false, i < 2});
  const size_t downloadDepth = at.size();
  auto folderPath = [&at](const std::u16string& name) {
    std::u16string joined = Joined(at, name);
    if (name.empty()) joined.pop_back();
    return joined;
  };

  // Every piece after the download folder, normalised as Windows does before it opens anything:
  // "." stays, ".." climbs (never above the drive), a folder's name on the way loses one final
  // dot, and the last name all its final dots and blanks (one of only those names the folder it
  // stands in). A name goes down into a folder that exists only where every machine has it.
  const std::vector<std::u16string> pieces = Split(std::u16string_view(path).substr(folder.size()));
  const std::u16string lastName =
      pieces.empty() ? std::u16string() : WithoutFinalDotsAndBlanks(pieces.back());
  // A final "." or ".." is a step too; any other last piece is a name, or nothing once its dots
  // and blanks are gone.
  const bool stepsLast = pieces.empty() || path.back() == u'\\' || path.back() == u'/' ||
                         pieces.back() == u"." || pieces.back() == u"..";
  const bool namesAFolder = stepsLast || lastName.empty();
  const size_t folderPieces = stepsLast ? pieces.size() : pieces.size() - 1;
  for (size_t i = 0; i < folderPieces; ++i) {
    if (pieces[i] == u".") continue;
    if (pieces[i] == u"..") {
      if (at.size() > 1) at.pop_back();
      continue;
    }
    const std::u16string piece = AsFolderOnTheWay(pieces[i]);
    const std::optional<update::WindowsNameFault> fault = update::WindowsNameRules(piece);
    const bool refused = fault && (fault->kind == update::WindowsNameFault::kRefusedCharacter ||
                                   fault->kind == update::WindowsNameFault::kTooLong);
    const std::optional<bool> writable =
        at.back().exists ? KnownFolder(known, folderPath(u"") + u"\\" + piece) : std::nullopt;
    at.push_back({piece, writable.has_value(), refused, writable == false});
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
                     " is not one that every user's machine has: the save fails where it does "
                     "not exist");
    }
  }
  // A last name that is a folder there (as in "..\\Temp" or "..\\Temp.") is that folder.
  if (namesAFolder || KnownFolder(known, folderPath(lastName))) {
    std::u16string named = Joined(at, namesAFolder ? u"" : lastName);
    return Box(named, kAccessDenied,
               "it names the folder " + Quoted(named) + ", not a file; a folder is not replaced");
  }

  // The drive's root, the folder of all users' profiles and the system's folders take files from
  // administrators only.
  if (at.back().adminOnly) {
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
    if (prediction.savedAs.size() > kLongestOpenedPath) {
      prediction.outcome = SavePrediction::kNotOpened;
      prediction.why = "the path, " + std::to_string(prediction.savedAs.size()) +
                       " characters, passes the " + std::to_string(kLongestOpenedPath) +
                       " characters that the shell opens: the save works but nothing installs";
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
