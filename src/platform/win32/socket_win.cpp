// Windows Sockets 2: the error numbers are the ones users see in messages.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/socket.h"

namespace vanto::platform {
namespace {

constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

// Winsock is started on the first use and stays up for the life of the process.
int StartWinsock() {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return started;
}

SOCKET Native(std::intptr_t handle) {
  return static_cast<SOCKET>(handle);
}

int Resolve(const std::string& host, uint16_t port, bool ipv6, sockaddr_storage& address,
            int& length) {
  addrinfo hints{};
  hints.ai_family = ipv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  if (ipv6) hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  // The result is a Windows Sockets number itself (WSAHOST_NOT_FOUND for an unknown name).
  if (int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); error != 0) {
    return error;
  }
  if (found == nullptr) return WSAHOST_NOT_FOUND;
  std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  length = static_cast<int>(found->ai_addrlen);
  freeaddrinfo(found);
  return 0;
}

}  // namespace

int TcpSocket::Connect(const std::string& host, uint16_t port, bool ipv6) {
  Close();
  if (int error = StartWinsock(); error != 0) return error;
  if (host.find('\0') != std::string::npos) return WSAHOST_NOT_FOUND;
  sockaddr_storage address{};
  int length = 0;
  if (int error = Resolve(host, port, ipv6, address, length); error != 0) return error;
  SOCKET s = socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return WSAGetLastError();
  // A large window keeps a fast link busy while the reader is between receives, and lets each
  // receive take more at once. It must be asked for before the handshake, which agrees the
  // window's scale; the system may grant less, which only costs speed.
  const int receiveBuffer = kReceiveBufferBytes;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
             sizeof(receiveBuffer));
  if (connect(s, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    int error = WSAGetLastError();
    closesocket(s);
    return error;
  }
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  handle_ = static_cast<std::intptr_t>(s);
  return 0;
}

int TcpSocket::SendAll(const char* data, size_t size) {
  if (handle_ == -1) return WSAENOTSOCK;
  while (size > 0) {
    int piece = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
    int n = send(Native(handle_), data, piece, 0);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

bool TcpSocket::SetReceiveTimeout(int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = -1;
  if (timeoutMs == receiveTimeoutMs_) return true;
  const DWORD wait = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;  // zero: no limit
  if (setsockopt(Native(handle_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait),
                 sizeof(wait)) != 0) {
    return false;
  }
  receiveTimeoutMs_ = timeoutMs;
  return true;
}

ReceiveResult TcpSocket::Receive(char* buffer, size_t capacity, int timeoutMs) {
  ReceiveResult result;
  if (handle_ == -1) {
    result.error = WSAENOTSOCK;
    return result;
  }
  // A zero time-out would be read as none at all; the shortest real one stands in for it.
  if (!SetReceiveTimeout(timeoutMs == 0 ? 1 : timeoutMs)) {
    result.error = WSAGetLastError();
    return result;
  }
  const int piece = capacity > (1u << 30) ? (1 << 30) : static_cast<int>(capacity);
  for (;;) {
    const int n = recv(Native(handle_), buffer, piece, 0);
    if (n != SOCKET_ERROR) {
      result.bytes = static_cast<size_t>(n);
      return result;
    }
    const int error = WSAGetLastError();
    if (error == WSAEINTR) continue;
    if (error == WSAETIMEDOUT) {
      result.timedOut = true;
    } else {
      result.error = error;
    }
    return result;
  }
}

void TcpSocket::Close() {
  if (handle_ != -1) {
    closesocket(Native(handle_));
    handle_ = -1;
    receiveTimeoutMs_ = -1;
  }
}

}  // namespace vanto::platform
