// Netproc: the values one run of the upgrade shares between its steps.
#pragma once

#include <optional>
#include <string>

#include "platform/signature.h"

namespace vanto::update {

// Reads the downloaded information file; it only records the path, every read opens the file.
struct InfoReader {
  std::u16string fileName;
};

// One download: the URL asked for and the path it is saved to, both plain concatenations.
struct DownloadPlace {
  std::u16string url;
  std::u16string path;
};

struct UpdateRunState {
  std::u16string TempDir;      // DocumentsFolder + "\vanto\Temp\"
  std::u16string DownloadUrl;  // URL of the current download
  std::u16string LocalFile;    // where the current download is saved
  InfoReader Info;             // on the downloaded information file
  double ServerVersion = 0.0;
  double LocalVersion = 0.0;
  std::u16string InfoFileName;
  std::u16string InfoServerDir;
  std::u16string InfoText;
  std::u16string LocalAlias;
  std::u16string ExeDir;  // the installer's file name, on the server and locally
  std::u16string ExeDirUp;
  std::u16string ServerVerText;  // VER as the information file holds it, which the signature binds
  std::u16string ExeSig;         // the installer's signature, read only when there is a key
  std::u16string RegServerDir;
  std::u16string RegInfoFName;
  std::u16string VerText;

  // The user's decimal separator, read once when the process starts.
  char16_t DecimalSeparator = u'.';

  // So that a run which installed nothing puts the program back where it was.
  std::u16string ExecutablePath;  // ProgramFilesFolder + "\vanto\vanto.exe"
  std::u16string BackupPath;      // the same with ".OLD"
  bool ExecutableMovedAside = false;
  bool BackupLeftByEndedRun = false;  // found aside with no vanto.exe: the backup is the program
  bool InstallerOpened = false;

  // The vendor key every installer must be signed with; none in a build without one.
  std::optional<platform::P256PublicKey> UpdateKey;
};

// The process-wide run state of the program.
UpdateRunState& RunState();

}  // namespace vanto::update
