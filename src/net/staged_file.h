// The file a download is saved to: written beside its target as the body arrives, and put in the
// target's place only once the whole body is there and accepted.
#pragma once

#include <span>
#include <string>

#include "platform/file.h"

namespace vanto::net {

class StagedFile {
 public:
  // `onlyToAFile`: a target that is a folder or a device is refused before any byte is written,
  // as where the body is judged once complete, a device would have had it already.
  StagedFile(std::u16string target, bool onlyToAFile);
  // A staging file that was begun and never committed is removed: it never outlives a failure,
  // and a target that is a file is as it was. (A device written directly has had the bytes.)
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Makes the staging file, or opens a folder or device at the target to write into it directly
  // (a rename must never take its place). Raises EFCreateError naming the target.
  void Begin();
  // Raises EWriteError at the first write the platform refuses.
  void Write(std::span<const char> bytes);
  // Puts the staging file in the target's place. Raises EFCreateError naming the target; an
  // EWriteError when nothing was begun, so that no path can pass for a save it never made.
  void Commit();

 private:
  void Discard();

  std::u16string target_;
  bool onlyToAFile_;
  platform::OutputFile direct_;  // a folder or device at the target, written directly
  platform::StagingFile staging_;
  bool begun_ = false;
};

}  // namespace vanto::net
