// Ownership of the socket handle is the same on every platform; only Close differs.
#include "platform/socket.h"

namespace vanto::platform {

TcpSocket::~TcpSocket() {
  Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : handle_(other.handle_), receiveTimeoutMs_(other.receiveTimeoutMs_) {
  other.handle_ = -1;
  other.receiveTimeoutMs_ = -1;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    receiveTimeoutMs_ = other.receiveTimeoutMs_;
    other.handle_ = -1;
    other.receiveTimeoutMs_ = -1;
  }
  return *this;
}

}  // namespace vanto::platform
