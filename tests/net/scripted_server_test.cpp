// The scripted server itself, spoken to over a plain socket, so that other suites can rely on it.
#include "support/scripted_server.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/socket.h"

namespace vanto::test {
namespace {

std::string Exchange(const ScriptedServer& server, const std::string& request) {
  platform::TcpSocket socket;
  EXPECT_EQ(0, socket.Connect("127.0.0.1", server.Port(), false));
  EXPECT_EQ(0, socket.SendAll(request.data(), request.size()));
  std::string answer;
  char buffer[1024];
  for (;;) {
    platform::ReceiveResult r = socket.Receive(buffer, sizeof(buffer), 5000);
    if (r.bytes == 0) break;
    answer.append(buffer, r.bytes);
  }
  return answer;
}

TEST(ScriptedServer, AnswersQueuedResponsesThenNotFound) {
  ScriptedServer server;
  EXPECT_EQ("http://127.0.0.1:" + std::to_string(server.Port()) + "/", server.BaseUrl());
  server.AddResponse("HTTP/1.1 200 OK\r\n\r\nfirst");
  server.AddScript(ServerScript().Send("HTTP/1.1 200 OK\r\n").Pause(50).Send("\r\nsecond"));
  EXPECT_EQ("HTTP/1.1 200 OK\r\n\r\nfirst", Exchange(server, "GET /a HTTP/1.1\r\n\r\n"));
  EXPECT_EQ("HTTP/1.1 200 OK\r\n\r\nsecond", Exchange(server, "GET /b HTTP/1.1\r\n\r\n"));
  EXPECT_EQ("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n",
            Exchange(server, "GET /c HTTP/1.1\r\n\r\n"));
  auto requests = server.Requests();
  ASSERT_EQ(3u, requests.size());
  EXPECT_EQ("GET /a HTTP/1.1\r\n\r\n", requests[0]);
  EXPECT_EQ("GET /c HTTP/1.1\r\n\r\n", requests[2]);
}

}  // namespace
}  // namespace vanto::test
