// The TCP connection of one download, read as a ByteSource with a time-out on every read.
#pragma once

#include <string>

#include "net/byte_source.h"
#include "net/url.h"
#include "platform/socket.h"

namespace vanto::net {

class Connection : public ByteSource {
 public:
  // Connects to the URL's host and port; raises EIdSocketError on failure.
  Connection(const ParsedUrl& url, int readTimeoutMs);
  // Raises EIdSocketError when the connection breaks.
  void Send(const std::string& bytes);
  // Raises EIdReadTimeout after readTimeoutMs (negative: no limit) without a byte.
  size_t Read(char* buffer, size_t capacity) override;
  std::optional<size_t> ReadWithin(char* buffer, size_t capacity, int timeoutMs) override;

 private:
  platform::TcpSocket socket_;
  int readTimeoutMs_;
};

}  // namespace vanto::net
