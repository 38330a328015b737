// errno and resolver codes to Windows Sockets numbers, so that a socket
// error means the same on every system. Only used by the POSIX back end.
#pragma once

namespace tarnwick {

// errno to its Windows Sockets twin; an errno without one is returned as is
// (its description then reads "Not a Winsock error (n)").
int WindowsErrorFromErrno(int error);

// getaddrinfo/getnameinfo result code to the Windows one (0 stays 0).
int WindowsErrorFromResolver(int code, int savedErrno);

}  // namespace tarnwick
