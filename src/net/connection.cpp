#include "net/connection.h"

#include "net/ascii.h"
#include "net/errors.h"
#include "net/socket_errors.h"

namespace vanto::net {

Connection::Connection(const ParsedUrl& url, int readTimeoutMs) : readTimeoutMs_(readTimeoutMs) {
  // A host with characters beyond printable ASCII gets "?" for them and so never resolves.
  std::string host = ToWireAscii(url.host);
  if (!url.ipv6 && LowerAscii(host) == "localhost") host = "127.0.0.1";
  if (int error = socket_.Connect(host, url.port, url.ipv6); error != 0) ThrowSocketError(error);
}

void Connection::Send(const std::string& bytes) {
  if (int error = socket_.SendAll(bytes.data(), bytes.size()); error != 0) {
    ThrowSocketError(error);
  }
}

size_t Connection::Read(char* buffer, size_t capacity) {
  std::optional<size_t> n = ReadWithin(buffer, capacity, readTimeoutMs_);
  if (!n) throw EIdReadTimeout(u"Read timed out.");
  return *n;
}

std::optional<size_t> Connection::ReadWithin(char* buffer, size_t capacity, int timeoutMs) {
  const platform::ReceiveResult result = socket_.Receive(buffer, capacity, timeoutMs);
  if (result.error != 0) ThrowSocketError(result.error);
  if (result.timedOut) return std::nullopt;
  return result.bytes;
}

}  // namespace vanto::net
