// The POSIX back end's conversion of the layer's (Windows-layout) address
// record to the system's sockaddr, for the few calls that bypass the
// function table (batched sends).
#pragma once

#include <sys/socket.h>

#include "net/SocketAddress.h"

namespace tarnwick::detail {

// Native length, 0 for an empty or unknown record.
socklen_t NativeAddress(const SocketAddress& in, sockaddr_storage& out);

}  // namespace tarnwick::detail
