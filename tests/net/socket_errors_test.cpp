#include "net/socket_errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "net/errors.h"
#include "platform/utf.h"

#ifndef _WIN32
#include "platform/posix/socket_errno.h"
#endif

namespace vanto::net {
namespace {

TEST(SocketErrors, Messages) {
  const struct {
    int number;
    const char* message;
  } cases[] = {
      // Every number with a text of its own.
      {10004, "Socket Error # 10004\r\nInterrupted system call."},
      {10009, "Socket Error # 10009\r\nBad file number."},
      {10013, "Socket Error # 10013\r\nAccess denied."},
      {10014, "Socket Error # 10014\r\nBuffer fault."},
      {10022, "Socket Error # 10022\r\nInvalid argument."},
      {10024, "Socket Error # 10024\r\nToo many open files."},
      {10035, "Socket Error # 10035\r\nOperation would block."},
      {10036, "Socket Error # 10036\r\nOperation now in progress."},
      {10037, "Socket Error # 10037\r\nOperation already in progress."},
      {10038, "Socket Error # 10038\r\nSocket operation on non-socket."},
      {10039, "Socket Error # 10039\r\nDestination address required."},
      {10040, "Socket Error # 10040\r\nMessage too long."},
      {10041, "Socket Error # 10041\r\nProtocol wrong type for socket."},
      {10042, "Socket Error # 10042\r\nBad protocol option."},
      {10043, "Socket Error # 10043\r\nProtocol not supported."},
      {10044, "Socket Error # 10044\r\nSocket type not supported."},
      {10045, "Socket Error # 10045\r\nOperation not supported on socket."},
      {10046, "Socket Error # 10046\r\nProtocol family not supported."},
      {10047, "Socket Error # 10047\r\nAddress family not supported by protocol family."},
      {10048, "Socket Error # 10048\r\nAddress already in use."},
      {10049, "Socket Error # 10049\r\nCannot assign requested address."},
      {10050, "Socket Error # 10050\r\nNetwork is down."},
      {10051, "Socket Error # 10051\r\nNetwork is unreachable."},
      {10052, "Socket Error # 10052\r\nNet dropped connection or reset."},
      {10053, "Socket Error # 10053\r\nSoftware caused connection abort."},
      {10054, "Socket Error # 10054\r\nConnection reset by peer."},
      {10055, "Socket Error # 10055\r\nNo buffer space available."},
      {10056, "Socket Error # 10056\r\nSocket is already connected."},
      {10057, "Socket Error # 10057\r\nSocket is not connected."},
      {10058, "Socket Error # 10058\r\nCannot send or receive after socket is closed."},
      {10059, "Socket Error # 10059\r\nToo many references, cannot splice."},
      {10060, "Socket Error # 10060\r\nConnection timed out."},
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {10062, "Socket Error # 10062\r\nToo many levels of symbolic links."},
      {10063, "Socket Error # 10063\r\nFile name too long."},
      {10064, "Socket Error # 10064\r\nHost is down."},
      {10065, "Socket Error # 10065\r\nNo route to host."},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      {11001, "Socket Error # 11001\r\nHost not found."},
      // Numbers without one.
      {10005, "Socket Error # 10005\r\n"},
      {10067, "Socket Error # 10067\r\n"},
      {11002, "Socket Error # 11002\r\n"},
      {10107, "Socket Error # 10107\r\n"},
      {0, "Socket Error # 0\r\n"},
      {-1, "Socket Error # -1\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.message, platform::Utf16ToUtf8(SocketErrorMessage(c.number)));
  }
}

#ifndef _WIN32
// What the POSIX layer reports for each errno it knows, so that a Linux build shows the words a
// Windows one would.
TEST(SocketErrors, NumbersOfErrnoValues) {
  const struct {
    int error;
    int number;
  } cases[] = {
      {EINTR, 10004},
      {EBADF, 10009},
      {EACCES, 10013},
      {EPERM, 10013},
      {EFAULT, 10014},
      {EINVAL, 10022},
      {EMFILE, 10024},
      {ENFILE, 10024},
      {EWOULDBLOCK, 10035},
      {EINPROGRESS, 10036},
      {EALREADY, 10037},
      {ENOTSOCK, 10038},
      {EDESTADDRREQ, 10039},
      {EMSGSIZE, 10040},
      {EPROTOTYPE, 10041},
      {ENOPROTOOPT, 10042},
      {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044},
      {EOPNOTSUPP, 10045},
      {EPFNOSUPPORT, 10046},
      {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050},
      {ENETUNREACH, 10051},
      {ENETRESET, 10052},
      {ECONNABORTED, 10053},
      {ECONNRESET, 10054},
      {EPIPE, 10054},
      {ENOBUFS, 10055},
      {ENOMEM, 10055},
      {EISCONN, 10056},
      {ENOTCONN, 10057},
      {ESHUTDOWN, 10058},
      {ETOOMANYREFS, 10059},
      {ETIMEDOUT, 10060},
      {ECONNREFUSED, 10061},
      {ELOOP, 10062},
      {ENAMETOOLONG, 10063},
      {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065},
      {ENOTEMPTY, 10066},
      // Nothing better fits.
      {ENOENT, 10107},
      {EIO, 10107},
      {0, 10107},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.number, platform::SocketErrorOfErrno(c.error)) << std::strerror(c.error);
  }
}
#endif

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
