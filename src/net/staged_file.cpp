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

StagedFile::StagedFile(std::u16string target, bool onlyToAFile)
    : target_(std::move(target)), onlyToAFile_(onlyToAFile) {}

StagedFile::~StagedFile() {
  Discard();
}

void StagedFile::Discard() {
  direct_.Close();
  staging_.Discard();
}

void StagedFile::Begin() {
  if (!platform::IsFileOrNothing(target_)) {
    if (onlyToAFile_) ThrowCreateError(target_, platform::AccessDeniedText());
    // Never removed on failure: a device must keep being the device.
    platform::FileCreation creation = platform::CreateOutputFile(target_);
    if (!creation.file.IsOpen()) ThrowCreateError(target_, creation.errorText);
    direct_ = std::move(creation.file);
    begun_ = true;
    return;
  }
  // A target that a plain create could not open (held open by a running installer, read-only)
  // fails now with that reason, before the body is read, rather than at the rename with a reason
  // that points elsewhere.
  if (std::optional<std::u16string> reason = platform::WhyNotReplaceable(target_)) {
    ThrowCreateError(target_, *reason);
  }
  platform::StagingCreation creation = platform::CreateStagingFile(StagingPath(target_), true);
  if (!creation.file.IsOpen()) ThrowCreateError(target_, creation.errorText);
  staging_ = std::move(creation.file);
  begun_ = true;
}

void StagedFile::Write(std::span<const char> bytes) {
  const bool written = direct_.IsOpen() ? direct_.Write(bytes.data(), bytes.size())
                                        : staging_.Write(bytes.data(), bytes.size());
  if (!written) {
    Discard();
    throw EWriteError(u"Stream write error");
  }
}

// No flush before the replace: a run that is killed leaves its bytes with the system, which
// writes them out; only a power cut can cost them, and every file this client saves is fetched
// anew by its next run before it is used.
void StagedFile::Commit() {
  const bool kept = direct_.IsOpen() ? direct_.Close() : staging_.IsOpen() && staging_.Finish();
  if (!begun_ || !kept) {
    Discard();
    throw EWriteError(u"Stream write error");
  }
  if (!staging_.IsOpen()) return;
  const auto giveUp = std::chrono::steady_clock::now() + kReplaceRetryFor;
  for (;;) {
    const platform::FileReplacement replacement = staging_.Replace(target_);
    if (replacement.replaced) return;
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
