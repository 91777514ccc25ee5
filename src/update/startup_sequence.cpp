#include "update/startup_sequence.h"

#include <memory>
#include <string>

#include "net/errors.h"
#include "update/file_names.h"
#include "update/server_info.h"
#include "update/version.h"

#ifndef VANTO_DEFAULT_SERVER_DIR
#error "VANTO_DEFAULT_SERVER_DIR must name the built-in download server (a u\"...\" literal)"
#endif

namespace vanto::update {
namespace {

constexpr char16_t kBackupName[] = u"\\vanto\\vanto.old";
constexpr char16_t kExecutableName[] = u"\\vanto\\vanto.exe";
constexpr char16_t kBackupExtension[] = u".OLD";
constexpr char16_t kDownloadFolder[] = u"\\vanto\\Temp\\";
constexpr char16_t kSettingsKey[] = u"\\Software\\vanto";
constexpr char16_t kNoSettingsMessage[] =
    u"프로그램의 정보가 없습니다.\r\r업체에 문의 하여 주십시요";

std::u16string ProgramFilesFolder(platform::Services& services) {
  return services.SpecialFolder(platform::kFolderProgramFiles);
}

std::u16string DocumentsFolder(platform::Services& services) {
  return services.SpecialFolder(platform::kFolderPersonal);
}

// Keys are named from the root; a leading backslash means the same key.
std::u16string KeyPathFromRoot(const std::u16string& path) {
  if (!path.empty() && path.front() == u'\\') return path.substr(1);
  return path;
}

std::u16string ReadRegistryText(platform::RegistryKey& key, const std::u16string& valueName) {
  platform::RegistryText value = key.ReadText(valueName);
  switch (value.status) {
    case platform::RegistryRead::kText:
      break;
    case platform::RegistryRead::kWrongType:
      throw ERegistryException(u"Invalid data type for '" + valueName + u"'");
    case platform::RegistryRead::kReadFailed:
      throw ERegistryException(u"Failed to get data for '" + valueName + u"'");
  }
  return std::move(value.text);
}

std::u16string OrDefault(std::u16string text, const std::u16string& defaultText) {
  return text.empty() ? defaultText : text;
}

// The old backup makes room for the new one. When the program itself is missing (an earlier run
// was ended, or its installer failed, after the program had been moved aside), the backup is the
// only copy left: it stays, and the answer is true.
bool RemoveOldBackup(platform::Services& services) {
  if (!services.FileExists(ProgramFilesFolder(services) + kBackupName)) return false;
  if (!services.FileExists(ProgramFilesFolder(services) + kExecutableName)) return true;
  services.Delete(ProgramFilesFolder(services) + kBackupName);
  return false;
}

void MoveExecutableAside(UpdateRunState& state, platform::Services& services,
                         bool backupIsTheOnlyCopy) {
  state.ExecutablePath = ProgramFilesFolder(services) + kExecutableName;
  state.BackupPath = ChangeFileExt(state.ExecutablePath, kBackupExtension);
  state.ExecutableMovedAside = services.Move(state.ExecutablePath, state.BackupPath);
  // Unless the program came back meanwhile, the backup found is the program aside.
  state.BackupLeftByEndedRun = backupIsTheOnlyCopy && !state.ExecutableMovedAside;
}

// A documents folder that could not be looked up leaves a path from the root of the current
// drive: no folder is made there, so that nothing is saved outside the user's own folders unless
// that place already exists.
void PrepareDownloadFolder(UpdateRunState& state, platform::Services& services) {
  const std::u16string documents = DocumentsFolder(services);
  state.TempDir = documents + kDownloadFolder;
  if (documents.empty()) return;
  if (!services.DirectoryExists(state.TempDir)) ForceDirectories(services, state.TempDir);
}

// The key is closed as soon as the values are read, also when a read fails.
void ReadLocalSettings(UpdateRunState& state, platform::RegistryKey& key) {
  state.VerText = OrDefault(ReadRegistryText(key, u"Ver"), u"0");
  state.LocalVersion = VersionFromText(state.VerText, state.DecimalSeparator);
  state.RegServerDir = OrDefault(ReadRegistryText(key, u"ServerDir"), VANTO_DEFAULT_SERVER_DIR);
  state.RegInfoFName = OrDefault(ReadRegistryText(key, u"InfoFName"), u"newvanto.ini");
}

}  // namespace

void StartupSequence(UpdateRunState& state, platform::Services& services, StartupHost& host,
                     const net::FetchOptions& fetchOptions) {
  const bool backupIsTheOnlyCopy = RemoveOldBackup(services);
  services.Sleep(500);
  MoveExecutableAside(state, services, backupIsTheOnlyCopy);
  PrepareDownloadFolder(state, services);

  {
    std::unique_ptr<platform::RegistryKey> key =
        services.OpenUserKey(KeyPathFromRoot(kSettingsKey));
    if (!key) {
      host.ShowInformation(kNoSettingsMessage);
      return;
    }
    ReadLocalSettings(state, *key);
  }

  LoadServerInfo(state, services, fetchOptions);
  host.HandOver();
}

void RestoreExecutableIfNotUpgraded(const UpdateRunState& state, platform::Services& services) {
  if ((state.ExecutableMovedAside || state.BackupLeftByEndedRun) && !state.InstallerOpened) {
    services.Move(state.BackupPath, state.ExecutablePath);
  }
}

}  // namespace vanto::update
