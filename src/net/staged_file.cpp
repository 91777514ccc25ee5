#include "net/staged_file.h"

#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include "net/errors.h"
#include "net/staging_path.h"

namespace vanto::net {
namespace {

// A scanner or indexer that opens the fresh file refuses its rename for a moment (common on
// Windows): it is tried again for this long before the error.
constexpr auto kReplaceRetryFor = std::chrono::seconds(2);
constexpr auto kReplaceRetryEvery = std::chrono::milliseconds(100);

[[noreturn]] void ThrowCreateError(const std::u16string& path, const std::u16string& reason) {
  throw EFCreateError(u"Cannot create file \"" + platform::FullPathName(path) + u"\". " + reason);
}

}  // namespace

StagedFile::StagedFile(std::u16string target) : target_(std::move(target)) {}

StagedFile::~StagedFile() {
  Discard();
}

void StagedFile::Discard() {
  file_.Close();
  if (removable_) platform::RemoveFile(staging_);
  removable_ = false;
}

void StagedFile::Begin() {
  if (!platform::IsFileOrNothing(target_)) {
    // Never removed on failure: a device must keep being the device.
    platform::FileCreation creation = platform::CreateOutputFile(target_);
    if (!creation.file.IsOpen()) ThrowCreateError(target_, creation.errorText);
    file_ = std::move(creation.file);
    begun_ = true;
    return;
  }
  // A target that a plain create could not open (held open by a running installer, read-only)
  // fails now with that reason, before the body is read, rather than at the rename with a reason
  // that points elsewhere.
  if (std::optional<std::u16string> reason = platform::WhyNotReplaceable(target_)) {
    ThrowCreateError(target_, *reason);
  }
  staging_ = StagingPath(target_);
  platform::FileCreation creation = platform::CreateFreshFile(staging_);
  if (!creation.file.IsOpen()) ThrowCreateError(target_, creation.errorText);
  file_ = std::move(creation.file);
  begun_ = true;
  removable_ = true;
}

void StagedFile::Write(std::span<const char> bytes) {
  if (!file_.Write(bytes.data(), bytes.size())) {
    Discard();
    throw EWriteError(u"Stream write error");
  }
}

// No flush before the rename: a run that is killed leaves its bytes with the system, which
// writes them out; only a power cut can cost them, and every file this client saves is fetched
// anew by its next run before it is used.
void StagedFile::Commit() {
  if (!begun_ || !file_.Close()) {
    Discard();
    throw EWriteError(u"Stream write error");
  }
  if (!removable_) return;
  const auto giveUp = std::chrono::steady_clock::now() + kReplaceRetryFor;
  for (;;) {
    const platform::FileReplacement replacement = platform::ReplaceWith(staging_, target_);
    if (replacement.replaced) {
      removable_ = false;
      return;
    }
    if (!replacement.transient || std::chrono::steady_clock::now() >= giveUp) {
      Discard();
      // The cause that a plain create would have met, where there is one: another program that
      // opened the target meanwhile is a sharing violation, not a matter of rights.
      ThrowCreateError(target_,
                       platform::WhyNotReplaceable(target_).value_or(replacement.errorText));
    }
    std::this_thread::sleep_for(kReplaceRetryEvery);
  }
}

}  // namespace vanto::net
