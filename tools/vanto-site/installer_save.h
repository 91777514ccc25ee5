// Where the Windows client saves the installer that ExeDir names, and what becomes of it, worked
// out by Windows' rules for paths and names so that every build of `check` says the same.
#pragma once

#include <string>

namespace vanto::site {

// A user's download folder as the client names it, for reports: every folder in it exists.
inline constexpr char16_t kUsualDownloadFolder[] = u"C:\\Users\\USER\\Documents\\vanto\\Temp\\";

struct SavePrediction {
  enum Outcome {
    kSaved,      // saved and opened by the shell
    kBox,        // the save fails with the error box `boxText`
    kNotOpened,  // no box, but the shell opens no installer
  };
  Outcome outcome = kSaved;
  std::u16string savedAs;  // the file Windows writes (or the device), ".." and "." resolved
  bool outsideFolder = false;
  std::u16string boxText;
  std::string why;      // for kBox and kNotOpened: what happens, as a sentence
  std::string staging;  // when the staging name is cut to fit: a note that says so
  // kBox for a port (COM, LPT, AUX, PRN): the box where the machine lacks it, else no box, the
  // installer written to the port and nothing installed.
  bool portMayExist = false;
};

// `path` is the client's local path (TempDir + ExeDir) and `folder` its TempDir, which must end
// in "\" and name folders that exist.
SavePrediction PredictSave(const std::u16string& folder, const std::u16string& path);

}  // namespace vanto::site
