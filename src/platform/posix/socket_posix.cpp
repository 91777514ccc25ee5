// BSD sockets. Failures are reported as the Windows Sockets numbers, so users see the same
// messages on every platform.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/socket_errno.h"
#include "platform/socket.h"

namespace vanto::platform {
namespace {

constexpr int kHostNotFound = 11001;  // WSAHOST_NOT_FOUND
constexpr int kTryAgain = 11002;      // WSATRY_AGAIN
constexpr int kNoRecovery = 11003;    // WSANO_RECOVERY

int FromResolver(int code) {
  switch (code) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return kHostNotFound;
    case EAI_AGAIN:
      return kTryAgain;
    case EAI_FAIL:
      return kNoRecovery;
    case EAI_MEMORY:
      return 10055;
    case EAI_SYSTEM:
      return SocketErrorOfErrno(errno);
    default:
      return kHostNotFound;
  }
}

// The first address of `host`: a literal is taken as it is, a name goes to the resolver.
int Resolve(const std::string& host, uint16_t port, bool ipv6, sockaddr_storage& address,
            socklen_t& length) {
  addrinfo hints{};
  hints.ai_family = ipv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  if (ipv6) hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) return FromResolver(rc);
  if (found == nullptr) return kHostNotFound;
  std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  length = found->ai_addrlen;
  freeaddrinfo(found);
  return 0;
}

}  // namespace

int TcpSocket::Connect(const std::string& host, uint16_t port, bool ipv6) {
  Close();
  if (host.find('\0') != std::string::npos) return kHostNotFound;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (int error = Resolve(host, port, ipv6, address, length); error != 0) return error;
  int s = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) return SocketErrorOfErrno(errno);
  int rc;
  do {
    rc = connect(s, reinterpret_cast<sockaddr*>(&address), length);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int error = SocketErrorOfErrno(errno);
    close(s);
    return error;
  }
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  handle_ = s;
  return 0;
}

int TcpSocket::SendAll(const char* data, size_t size) {
  if (handle_ < 0) return 10038;
  while (size > 0) {
    ssize_t n = send(static_cast<int>(handle_), data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return SocketErrorOfErrno(errno);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

bool TcpSocket::SetReceiveTimeout(int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = -1;
  if (timeoutMs == receiveTimeoutMs_) return true;
  timeval wait{};  // zero: no limit
  if (timeoutMs > 0) {
    wait.tv_sec = timeoutMs / 1000;
    wait.tv_usec = (timeoutMs % 1000) * 1000;
  }
  if (setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait)) != 0) {
    return false;
  }
  receiveTimeoutMs_ = timeoutMs;
  return true;
}

ReceiveResult TcpSocket::Receive(char* buffer, size_t capacity, int timeoutMs) {
  ReceiveResult result;
  if (handle_ < 0) {
    result.error = 10038;
    return result;
  }
  // A zero time-out would be read as none at all; the shortest real one stands in for it.
  if (!SetReceiveTimeout(timeoutMs == 0 ? 1 : timeoutMs)) {
    result.error = SocketErrorOfErrno(errno);
    return result;
  }
  for (;;) {
    const ssize_t n = recv(static_cast<int>(handle_), buffer, capacity, 0);
    if (n >= 0) {
      result.bytes = static_cast<size_t>(n);
      return result;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      result.timedOut = true;
    } else {
      result.error = SocketErrorOfErrno(errno);
    }
    return result;
  }
}

void TcpSocket::Close() {
  if (handle_ >= 0) {
    close(static_cast<int>(handle_));
    handle_ = -1;
    receiveTimeoutMs_ = -1;
  }
}

}  // namespace vanto::platform
