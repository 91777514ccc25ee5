#include "net/fetch.h"

#include <new>
#include <optional>

#include "net/connection.h"
#include "net/errors.h"
#include "net/line_reader.h"
#include "net/request.h"
#include "net/response_reader.h"
#include "net/url.h"
#include "platform/file.h"

namespace vanto::net {
namespace {

// One exchange: the client lives only for it and is released before the caller's buffer.
class HttpClient {
 public:
  explicit HttpClient(const FetchOptions& options) : options_(options) {}

  void Get(const std::u16string& url, BodyBuffer& body) {
    const ParsedUrl parsed = SplitUrl(url);
    connection_.emplace(parsed, options_.readTimeoutMs);
    connection_->Send(BuildRequest(parsed));
    LineReader reader(*connection_);
    ResponseLimits limits;
    limits.maxBodyBytes = options_.maxBodyBytes;
    const Response response = ReadResponse(reader, body, limits);
    if (options_.onResponse) options_.onResponse(response);
  }

 private:
  const FetchOptions& options_;
  std::optional<Connection> connection_;
};

// Where the body is written before it takes the target's place: beside the target, so that the
// rename stays on one volume, and always the same name, so that a run that was ended while saving
// leaves at most one such file, which the next save of that target overwrites.
std::u16string StagingPath(const std::u16string& path) {
  return path + u".part";
}

[[noreturn]] void ThrowCreateError(const std::u16string& path, const std::u16string& reason) {
  throw EFCreateError(u"Cannot create file \"" + platform::FullPathName(path) + u"\". " + reason);
}

// Writes every block; false at the first one the platform refuses.
bool WriteBody(const BodyBuffer& body, platform::OutputFile& file) {
  for (std::span<const char> block : body.Blocks()) {
    if (!file.Write(block.data(), block.size())) return false;
  }
  return true;
}

// A folder or a device at the path is written to directly: a rename must never take its place.
// A write that fails leaves no half file behind, unless the target is not an ordinary file (a
// device must never be unlinked).
void SaveInPlace(const BodyBuffer& body, const std::u16string& path) {
  platform::FileCreation creation = platform::CreateOutputFile(path);
  if (!creation.file.IsOpen()) ThrowCreateError(path, creation.errorText);
  const bool written = WriteBody(body, creation.file);
  const bool removable = !written && creation.file.IsRegularFile();
  creation.file.Close();
  if (!written) {
    if (removable) platform::RemoveFile(path);
    throw EWriteError(u"Stream write error");
  }
}

// The whole body in one go. An older file of that name is replaced only once every byte is on
// disk, so a full disk or an ended run never costs it; the staging file never outlives a failure.
// Errors name the target, as the user knows no other file.
void Save(const BodyBuffer& body, const std::u16string& path) {
  if (!platform::IsFileOrNothing(path)) return SaveInPlace(body, path);
  const std::u16string staging = StagingPath(path);
  platform::FileCreation creation = platform::CreateOutputFile(staging);
  if (!creation.file.IsOpen()) ThrowCreateError(path, creation.errorText);
  const bool written = WriteBody(body, creation.file);
  const bool removable = creation.file.IsRegularFile();
  creation.file.Close();
  if (!written) {
    if (removable) platform::RemoveFile(staging);
    throw EWriteError(u"Stream write error");
  }
  const platform::FileReplacement replacement = platform::ReplaceWith(staging, path);
  if (!replacement.replaced) {
    if (removable) platform::RemoveFile(staging);
    ThrowCreateError(path, replacement.errorText);
  }
}

}  // namespace

void FetchToFile(const std::u16string& url, const std::u16string& path,
                 const FetchOptions& options) {
  try {
    BodyBuffer body;
    HttpClient client(options);
    client.Get(url, body);
    if (options.checkBody) options.checkBody(body);
    Save(body, path);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(u"Out of memory");
  }
}

}  // namespace vanto::net
