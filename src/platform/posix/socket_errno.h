// The Windows Sockets number of an errno value: what a socket failure on POSIX reports, so that
// users see the messages a Windows build would show.
#pragma once

namespace vanto::platform {

// 10107 (WSASYSCALLFAILURE) for a value with no counterpart.
int SocketErrorOfErrno(int e);

}  // namespace vanto::platform
