// A connected TCP stream, the only network service the HTTP client needs. Errors are reported as
// Windows Sockets error numbers on every platform (POSIX errno and resolver failures are mapped),
// so the messages users see are the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vanto::platform {

struct ReceiveResult {
  size_t bytes = 0;       // 0 with error 0 and !timedOut: the peer closed in an orderly way
  int error = 0;          // Windows Sockets error number, 0 when none
  bool timedOut = false;  // nothing arrived within the wait
};

class TcpSocket {
 public:
  TcpSocket() = default;  // no socket
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Resolves `host` (an IPv4 name or literal; an IPv6 literal without brackets when `ipv6` is
  // set), takes the first address and makes one blocking connect attempt. Returns 0 or the error
  // number (11001 for a name that does not resolve).
  int Connect(const std::string& host, uint16_t port, bool ipv6);
  // Sends every byte; returns 0 or the error number.
  int SendAll(const char* data, size_t size);
  // Waits up to `timeoutMs` milliseconds (negative: without limit) for data, then reads at most
  // `capacity` bytes. The wait is the socket's own receive time-out, so a download costs one
  // system call per receive; after a time-out the stream is not to be read again (Windows leaves
  // it in an undefined state).
  ReceiveResult Receive(char* buffer, size_t capacity, int timeoutMs);
  // Closes the connection; also done by the destructor.
  void Close();

 private:
  // Makes `timeoutMs` (positive, or negative for no limit) the socket's receive time-out, asking
  // the system only when it differs from the one in force; false when the system refuses.
  bool SetReceiveTimeout(int timeoutMs);

  std::intptr_t handle_ = -1;
  int receiveTimeoutMs_ = -1;  // a new socket waits without limit
};

}  // namespace vanto::platform
