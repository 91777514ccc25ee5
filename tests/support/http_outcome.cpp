#include "support/http_outcome.h"

#include "net/byte_source.h"
#include "net/errors.h"
#include "net/line_reader.h"
#include "platform/utf.h"
#include "support/body_checks.h"
#include "support/temp_dir.h"

namespace vanto::test {

void PrintTo(const HttpOutcome& outcome, std::ostream* out) {
  const std::string& body = outcome.body;
  *out << "{kind \"" << outcome.kind << "\", message \"" << outcome.message << "\", number "
       << outcome.number << ", body ";
  if (body.size() <= 80) {
    *out << "\"" << body << "\"";
  } else {
    *out << "\"" << body.substr(0, 80) << "...\" (" << body.size() << " bytes)";
  }
  if (outcome.callerBytes != 0) *out << ", " << outcome.callerBytes << " bytes left to the caller";
  *out << "}";
}

HttpOutcome ReadResponseInPieces(const std::string& raw, size_t piece,
                                 const net::ResponseLimits& limits) {
  net::MemorySource source(raw.data(), raw.size(), piece);
  net::LineReader reader(source);
  BodyInBlocks body;
  HttpOutcome outcome;
  try {
    outcome.number = net::ReadResponse(reader, body, limits).statusCode;
    outcome.body = body.Whole();
  } catch (const EIdHTTPProtocolException& e) {
    outcome = {std::string(e.Kind()), platform::Utf16ToUtf8(e.Message()), e.ErrorCode(),
               e.ErrorBody(), body.Size()};
  } catch (const Error& e) {
    outcome = {std::string(e.Kind()), platform::Utf16ToUtf8(e.Message()), 0, "", 0};
  }
  return outcome;
}

HttpOutcome FetchToOutcome(const std::u16string& url, const std::u16string& path,
                           const net::FetchOptions& options) {
  try {
    net::FetchToFile(url, path, options);
    return {"", "", 0, ReadFileBytes(path), 0};
  } catch (const EIdSocketError& e) {
    return {std::string(e.Kind()), platform::Utf16ToUtf8(e.Message()), e.LastError(), "", 0};
  } catch (const EIdHTTPProtocolException& e) {
    return {std::string(e.Kind()), platform::Utf16ToUtf8(e.Message()), e.ErrorCode(), "", 0};
  } catch (const Error& e) {
    return {std::string(e.Kind()), platform::Utf16ToUtf8(e.Message()), 0, "", 0};
  }
}

HttpOutcome FetchToOutcome(const std::string& url, const std::u16string& path,
                           const net::FetchOptions& options) {
  return FetchToOutcome(platform::Utf8ToUtf16(url), path, options);
}

}  // namespace vanto::test
