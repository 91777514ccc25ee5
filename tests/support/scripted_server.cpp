#include "support/scripted_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vanto::test {
namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
constexpr NativeSocket kNoSocket = INVALID_SOCKET;
void CloseNative(NativeSocket s) {
  closesocket(s);
}
struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUser() { WSACleanup(); }
};
#else
using NativeSocket = int;
constexpr NativeSocket kNoSocket = -1;
void CloseNative(NativeSocket s) {
  close(s);
}
#endif

constexpr int kPollMs = 20;

NativeSocket Native(std::intptr_t handle) {
  return static_cast<NativeSocket>(handle);
}

// True when the socket has something to read (or was closed) within `ms`.
bool WaitReadable(NativeSocket s, int ms) {
#ifdef _WIN32
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &tv) > 0;
#else
  pollfd p{s, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
#endif
}

// True when the socket can take more bytes (or has failed) within `ms`.
bool WaitWritable(NativeSocket s, int ms) {
#ifdef _WIN32
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_SET(s, &writable);
  FD_ZERO(&failed);
  FD_SET(s, &failed);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return select(0, nullptr, &writable, &failed, &tv) > 0;
#else
  pollfd p{s, POLLOUT, 0};
  return poll(&p, 1, ms) > 0;
#endif
}

bool WouldBlock() {
#ifdef _WIN32
  return WSAGetLastError() == WSAEWOULDBLOCK;
#else
  return errno == EAGAIN || errno == EWOULDBLOCK;
#endif
}

void MakeNonBlocking(NativeSocket s) {
#ifdef _WIN32
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
#else
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
#endif
}

// Sends on a non-blocking socket, so that a client which stopped reading cannot hold the server
// past its stop: Wine 8 never wakes a blocked send whose peer has reset the connection.
bool SendAllBytes(NativeSocket s, const std::string& bytes, const std::atomic<bool>& stop) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    if (stop.load()) return false;
    size_t piece = bytes.size() - sent;
    if (piece > (1 << 20)) piece = 1 << 20;
#ifdef _WIN32
    int n = send(s, bytes.data() + sent, static_cast<int>(piece), 0);
#else
    ssize_t n = send(s, bytes.data() + sent, piece, MSG_NOSIGNAL);
#endif
    if (n < 0 && WouldBlock()) {
      WaitWritable(s, kPollMs);
      continue;
    }
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

const char kDefaultResponse[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";

}  // namespace

ServerScript& ServerScript::SendInPieces(const std::string& bytes, size_t pieceSize, int delayMs) {
  for (size_t at = 0; at < bytes.size(); at += pieceSize) {
    steps.push_back({bytes.substr(at, pieceSize), delayMs});
  }
  return *this;
}

ScriptedServer::ScriptedServer() {
#ifdef _WIN32
  static WinsockUser winsock;
#endif
  NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNoSocket) throw std::runtime_error("ScriptedServer: socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(s, 16) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseNative(s);
    throw std::runtime_error("ScriptedServer: cannot listen on 127.0.0.1");
  }
  listener_ = static_cast<std::intptr_t>(s);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  thread_.join();
  CloseNative(Native(listener_));
}

std::string ScriptedServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

void ScriptedServer::AddResponse(std::string rawBytes) {
  AddScript(ServerScript().Send(std::move(rawBytes)));
}

void ScriptedServer::AddScript(ServerScript script) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.push_back(std::move(script));
}

std::vector<std::string> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedServer::Run() {
  while (!Stopping()) {
    if (!WaitReadable(Native(listener_), kPollMs)) continue;
    NativeSocket client = accept(Native(listener_), nullptr, nullptr);
    if (client == kNoSocket) continue;
    ++connections_;
    // Every step leaves as its own segment, so that pieces arrive as they were scripted.
    int noDelay = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof(noDelay));
    ServerScript script;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (scripts_.empty()) {
        script.Send(kDefaultResponse);
      } else {
        script = std::move(scripts_.front());
        scripts_.pop_front();
      }
    }
    Serve(static_cast<std::intptr_t>(client), script);
  }
}

void ScriptedServer::Serve(std::intptr_t handle, const ServerScript& script) {
  NativeSocket client = Native(handle);
  MakeNonBlocking(client);
  std::string request;
  if (script.readRequest) {
    // The request ends at the first empty line; a client that closes early ends it too.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char buffer[4096];
    while (!Stopping() && request.find("\r\n\r\n") == std::string::npos &&
           request.find("\n\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      if (!WaitReadable(client, kPollMs)) continue;
      int n = static_cast<int>(recv(client, buffer, sizeof(buffer), 0));
      if (n <= 0) break;
      request.append(buffer, static_cast<size_t>(n));
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  for (const ServerScript::Step& step : script.steps) {
    if (!step.bytes.empty() && !SendAllBytes(client, step.bytes, stop_)) break;
    // Short delays are slept as given: byte-at-a-time feeds use pauses of a millisecond.
    for (int waited = 0; waited < step.delayMs && !Stopping(); waited += kPollMs) {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(std::min(kPollMs, step.delayMs - waited)));
    }
  }
  switch (script.ending) {
    case ServerScript::Ending::kClose:
#ifdef _WIN32
      shutdown(client, SD_SEND);
#else
      shutdown(client, SHUT_WR);
#endif
      // Drain what the client still sends so that the close stays orderly.
      for (int i = 0; i < 25 && WaitReadable(client, kPollMs);) {
        char sink[4096];
        if (recv(client, sink, sizeof(sink), 0) <= 0) break;
        ++i;
      }
      break;
    case ServerScript::Ending::kReset: {
      linger hard{1, 0};
      setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
      break;
    }
    case ServerScript::Ending::kHoldOpen:
      while (!Stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      break;
  }
  CloseNative(client);
}

std::uint16_t ClosedPort() {
  ScriptedServer gone;
  return gone.Port();
}

}  // namespace vanto::test
