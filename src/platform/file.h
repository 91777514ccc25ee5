// Creating and writing the downloaded file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vanto::platform {

class OutputFile {
 public:
  OutputFile() = default;  // no file
  explicit OutputFile(std::intptr_t handle) : handle_(handle) {}
  ~OutputFile();
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool IsOpen() const noexcept { return handle_ != -1; }
  std::intptr_t Handle() const noexcept { return handle_; }
  // Writes every byte; false when the platform refuses any of them.
  bool Write(const void* data, size_t size);
  // False when the platform reports that bytes written could not be kept.
  bool Close();

 private:
  std::intptr_t handle_ = -1;
};

struct FileCreation {
  OutputFile file;           // open when the creation succeeded
  std::u16string errorText;  // the platform's text for the failure, trailing blanks, control
                             // characters and periods removed
};

struct FileReplacement {
  bool replaced = false;
  std::u16string errorText;  // the platform's text, trimmed as for the creation
  bool transient = false;    // a refusal that another program's open file may cause for a moment
};

struct StagingCreation;

// The file a download is written to until it takes its target's place. While it is open no
// other run can reach it by a name: on Windows it stands at the staging name, opened shared with
// nobody, so it cannot be opened, swapped or removed; elsewhere it has no name, or a fresh unique
// one, until the replace. Whatever else comes to stand at the staging name is never written
// through, and never becomes the target.
class StagingFile {
 public:
  StagingFile() = default;
  ~StagingFile() { Discard(); }
  StagingFile(StagingFile&& other) noexcept;
  StagingFile& operator=(StagingFile&& other) noexcept;
  StagingFile(const StagingFile&) = delete;
  StagingFile& operator=(const StagingFile&) = delete;

  bool IsOpen() const noexcept { return file_.IsOpen() || !name_.empty(); }
  bool Write(const void* data, size_t size) { return file_.Write(data, size); }
  // The last byte is written; false when the platform reports that bytes could not be kept.
  bool Finish();
  // Puts this file, and only this one, in the place of `target`, replacing a file there. After a
  // refusal it stays as it was, for another try or Discard.
  FileReplacement Replace(const std::u16string& target);
  // Removes it, never another file that has come to stand at one of its names.
  void Discard();

 private:
  friend StagingCreation CreateStagingFile(const std::u16string& stagingPath, bool unnamed);

  OutputFile file_;
  std::u16string name_;    // where it stands now, when it has a name that is ours to remove
  std::u16string folder_;  // where a file made without a name gets one (not on Windows)
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;  // what it is, where names are no proof (not on Windows)
};

struct StagingCreation {
  StagingFile file;
  std::u16string errorText;  // as for FileCreation
};

// Makes the staging file for `stagingPath`. On Windows at that path, after removing whatever
// file or link stands there (never what a link points to, and never the attributes of a file
// that has other names too); a staging file of another run, open, is a sharing violation. On
// POSIX in its folder, unnamed where the file system can (`unnamed`), otherwise under a fresh
// unique name made exclusively; whatever stands at `stagingPath` is left alone.
StagingCreation CreateStagingFile(const std::u16string& stagingPath, bool unnamed);

// The platform's text for a create refused for want of rights, trimmed as for the creation.
std::u16string AccessDeniedText();

// Creates `path` for reading and writing, shared with nobody, truncating an existing file, with
// normal attributes.
FileCreation CreateOutputFile(const std::u16string& path);
// Why a plain create of the existing file at `path` would fail (held open by another program,
// read-only), in the platform's words, trimmed as for the creation; nothing when it would not,
// or when there is no file. The file is not changed.
std::optional<std::u16string> WhyNotReplaceable(const std::u16string& path);
// True when nothing is at `path` or an ordinary file is: what may be replaced by renaming over it.
// Folders and devices are not (a device must keep being the device).
bool IsFileOrNothing(const std::u16string& path);

// The path made absolute and normalised, as the platform would name the file.
std::u16string FullPathName(const std::u16string& path);

}  // namespace vanto::platform
