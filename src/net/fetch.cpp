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

// The whole body in one go. A write that fails leaves no half file behind, unless the target is
// not an ordinary file (a device must never be unlinked).
void Save(const BodyBuffer& body, const std::u16string& path) {
  platform::FileCreation creation = platform::CreateOutputFile(path);
  if (!creation.file.IsOpen()) {
    throw EFCreateError(u"Cannot create file \"" + platform::FullPathName(path) + u"\". " +
                        creation.errorText);
  }
  bool written = true;
  for (std::span<const char> block : body.Blocks()) {
    if (!creation.file.Write(block.data(), block.size())) {
      written = false;
      break;
    }
  }
  const bool removable = !written && creation.file.IsRegularFile();
  creation.file.Close();
  if (!written) {
    if (removable) platform::RemoveFile(path);
    throw EWriteError(u"Stream write error");
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
