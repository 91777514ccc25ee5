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

// Creates `path` for reading and writing, shared with nobody, truncating an existing file, with
// normal attributes.
FileCreation CreateOutputFile(const std::u16string& path);
// Removes whatever file or link stands at `path` (never what a link points to), then creates a
// new file there exclusively, as CreateOutputFile would: a link made in between fails the create
// instead of being written through.
FileCreation CreateFreshFile(const std::u16string& path);
// Why a plain create of the existing file at `path` would fail (held open by another program,
// read-only), in the platform's words, trimmed as for the creation; nothing when it would not,
// or when there is no file. The file is not changed.
std::optional<std::u16string> WhyNotReplaceable(const std::u16string& path);
// True when nothing is at `path` or an ordinary file is: what may be replaced by renaming over it.
// Folders and devices are not (a device must keep being the device).
bool IsFileOrNothing(const std::u16string& path);

struct FileReplacement {
  bool replaced = false;
  std::u16string errorText;  // the platform's text, trimmed as for the creation
  bool transient = false;    // a refusal that another program's open file may cause for a moment
};

// Puts the file `from` in the place of `to` in one step, replacing a file there.
FileReplacement ReplaceWith(const std::u16string& from, const std::u16string& to);
// The path made absolute and normalised, as the platform would name the file.
std::u16string FullPathName(const std::u16string& path);
// Removes a file; false when it could not be removed.
bool RemoveFile(const std::u16string& path);

}  // namespace vanto::platform
