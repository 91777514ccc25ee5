#include "net/fetch.h"

#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "net/connection.h"
#include "net/errors.h"
#include "net/line_reader.h"
#include "net/request.h"
#include "net/response_reader.h"
#include "net/staged_file.h"
#include "net/url.h"

namespace vanto::net {
namespace {

// One exchange: the client lives only for it and is released before the download is committed.
class HttpClient {
 public:
  explicit HttpClient(const FetchOptions& options) : options_(options) {}

  void Get(const std::u16string& url, BodySink& body) {
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

// The body goes to the staging file and past every check as it arrives; the checks decide once
// it is complete, before it takes the target's place.
class Download : public BodySink {
 public:
  Download(const std::u16string& path, const FetchOptions& options)
      : file_(path, !options.bodyChecks.empty()), onBegin_(options.onBodyBegins) {
    for (const BodyCheckFactory& makeCheck : options.bodyChecks) checks_.push_back(makeCheck());
  }
  void Begin() override {
    if (onBegin_) onBegin_();
    file_.Begin();
  }
  void Write(std::span<const char> bytes) override {
    file_.Write(bytes);
    for (const std::unique_ptr<BodyCheck>& check : checks_) check->Add(bytes);
  }
  void Commit() {
    for (const std::unique_ptr<BodyCheck>& check : checks_) check->Decide();
    file_.Commit();
  }

 private:
  StagedFile file_;
  std::function<void()> onBegin_;
  std::vector<std::unique_ptr<BodyCheck>> checks_;
};

}  // namespace

void FetchToFile(const std::u16string& url, const std::u16string& path,
                 const FetchOptions& options) {
  try {
    Download download(path, options);
    {
      HttpClient client(options);
      client.Get(url, download);
    }
    download.Commit();
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(u"Out of memory");
  }
}

}  // namespace vanto::net
