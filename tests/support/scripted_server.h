// A loopback HTTP server for tests: answers each connection with canned bytes and records the raw
// request it received. It runs on its own thread and listens on 127.0.0.1 at an ephemeral port.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vanto::test {

// What one connection gets, step by step, after its request has been read.
struct ServerScript {
  enum class Ending {
    kClose,     // orderly close (FIN)
    kReset,     // abortive close (RST)
    kHoldOpen,  // stay connected and silent until the server is destroyed
  };
  struct Step {
    std::string bytes;  // sent first
    int delayMs = 0;    // then a pause
  };
  std::vector<Step> steps;
  Ending ending = Ending::kClose;
  // When false the connection is answered without waiting for a request.
  bool readRequest = true;

  ServerScript& Send(std::string bytes) {
    steps.push_back({std::move(bytes), 0});
    return *this;
  }
  ServerScript& Pause(int ms) {
    steps.push_back({std::string(), ms});
    return *this;
  }
  // Sends `bytes` in pieces of `pieceSize` with `delayMs` between them.
  ServerScript& SendInPieces(const std::string& bytes, size_t pieceSize, int delayMs);
  // Answers without reading the request.
  ServerScript& IgnoreRequest() {
    readRequest = false;
    return *this;
  }
  ServerScript& EndWith(Ending how) {
    ending = how;
    return *this;
  }
};

class ScriptedServer {
 public:
  ScriptedServer();   // listening on 127.0.0.1, ephemeral port
  ~ScriptedServer();  // stops its thread, closes everything
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string BaseUrl() const;  // "http://127.0.0.1:<port>/"

  // Each accepted connection reads the request (up to the empty line) and gets the next queued
  // response, then the server closes it. When the queue is empty a connection gets
  // "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n".
  void AddResponse(std::string rawBytes);
  void AddScript(ServerScript script);

  std::vector<std::string> Requests() const;  // raw request bytes, one per connection so far
  int Connections() const { return connections_.load(); }

 private:
  void Run();
  void Serve(std::intptr_t client, const ServerScript& script);
  bool Stopping() const { return stop_.load(); }

  std::intptr_t listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::deque<ServerScript> scripts_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A loopback port that nothing listens on: one that a server held a moment ago.
std::uint16_t ClosedPort();

}  // namespace vanto::test
