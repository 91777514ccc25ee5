// vanto-fetch as users run it: exit codes and the one line on stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace vanto::test {
namespace {

struct ToolRun {
  int exitCode;
  std::string stdoutBytes;
  std::string stderrBytes;
};

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

ToolRun RunTool(const TempDir& dir, const std::string& arguments) {
  const std::string out = (dir.Path() / "stdout").string();
  const std::string err = (dir.Path() / "stderr").string();
  const std::string command =
      Quote(VANTO_FETCH_PATH) + " " + arguments + " >" + Quote(out) + " 2>" + Quote(err);
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(dir.File(u"stdout")),
          ReadFileBytes(dir.File(u"stderr"))};
}

TEST(VantoFetch, ExitCodesAndMessages) {
  ScriptedServer server;
  server.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  server.AddResponse("HTTP/1.1 404 \xEC\x97\x86\xEC\x9D\x8C\r\n\r\n");
  server.AddResponse("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew");
  const std::uint16_t closedPort = ClosedPort();
  TempDir dir;
  const std::string target = (dir.Path() / "\xED\x95\x9C.txt").string();
  const std::string latin1Target = (dir.Path() / "caf\xE9.txt").string();
  WriteFileBytes(dir.File(u"caf\uFFFD.txt"), "the user's own");
  const struct {
    std::string arguments;
    int exitCode;
    std::string stderrBytes;
  } cases[] = {
      {Quote(server.BaseUrl() + "f") + " " + Quote(target), 0, ""},
      {Quote(server.BaseUrl() + "f") + " " + Quote(target), 1,
       "EIdHTTPProtocolException: HTTP/1.1 404 ??????\n"},
      {Quote("http://127.0.0.1:" + std::to_string(closedPort) + "/f") + " " + Quote(target), 1,
       "EIdSocketError: Socket Error # 10061\r\nConnection refused.\n"},
      {"https://h/f " + Quote(target), 1,
       "EIdIOHandlerPropInvalid: IOHandler value is not valid\n"},
      {"http://:80/f " + Quote(target), 1, "EIdHostRequired: \n"},
      {"", 2, "usage: vanto-fetch URL PATH\n"},
      {"only-one", 2, "usage: vanto-fetch URL PATH\n"},
      {"a b c", 2, "usage: vanto-fetch URL PATH\n"},
      // Bytes that are not UTF-8 would name another file, or another URL.
      {Quote(server.BaseUrl() + "f") + " " + Quote(latin1Target), 2,
       "vanto-fetch: URL and PATH must be UTF-8\n"},
      {Quote(server.BaseUrl() + "caf\xE9") + " " + Quote(target), 2,
       "vanto-fetch: URL and PATH must be UTF-8\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun run = RunTool(dir, c.arguments);
    EXPECT_EQ(c.exitCode, run.exitCode);
    EXPECT_EQ("", run.stdoutBytes);
    EXPECT_EQ(c.stderrBytes, run.stderrBytes);
  }
  EXPECT_EQ("ok", ReadFileBytes(dir.File(u"\uD55C.txt")));
  EXPECT_EQ("the user's own", ReadFileBytes(dir.File(u"caf\uFFFD.txt")));
  EXPECT_EQ(2, server.Connections());
}

}  // namespace
}  // namespace vanto::test
