#include "net/socket_errors.h"

#include <gtest/gtest.h>

#include <string_view>

#include "net/errors.h"
#include "platform/utf.h"

namespace vanto::net {
namespace {

TEST(SocketErrors, Messages) {
  const struct {
    int number;
    const char* message;
  } cases[] = {
      {10004, "Socket Error # 10004\r\nInterrupted system call."},
      {10047, "Socket Error # 10047\r\nAddress family not supported by protocol family."},
      {10053, "Socket Error # 10053\r\nSoftware caused connection abort."},
      {10054, "Socket Error # 10054\r\nConnection reset by peer."},
      {10060, "Socket Error # 10060\r\nConnection timed out."},
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      {11001, "Socket Error # 11001\r\nHost not found."},
      {11002, "Socket Error # 11002\r\n"},
      {10107, "Socket Error # 10107\r\n"},
      {0, "Socket Error # 0\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.message, platform::Utf16ToUtf8(SocketErrorMessage(c.number)));
  }
}

TEST(SocketErrors, Kinds) {
  const struct {
    int number;
    const char* kind;
    const char* message;
  } cases[] = {
      {10038, "EIdNotASocket", "Socket Error # 10038\r\nSocket operation on non-socket."},
      {10054, "EIdSocketError", "Socket Error # 10054\r\nConnection reset by peer."},
      {11001, "EIdSocketError", "Socket Error # 11001\r\nHost not found."},
      {10107, "EIdSocketError", "Socket Error # 10107\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    try {
      ThrowSocketError(c.number);
      ADD_FAILURE() << "nothing thrown";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(std::string_view(c.kind), e.Kind());
      EXPECT_EQ(c.number, e.LastError());
      EXPECT_EQ(c.message, platform::Utf16ToUtf8(e.Message()));
    }
  }
}

}  // namespace
}  // namespace vanto::net
