// Address text for messages ("192.0.2.1:69", "[2001:db8::1]:69"), written by
// hand rather than asked of the system so that the state machine, which
// quotes addresses in its reasons, stays free of system calls.
#pragma once

#include <string>

#include "net/SocketAddress.h"

namespace tarnwick::tftp {

std::string EndpointText(const SocketAddress& address);
// The address alone: "192.0.2.1", "2001:db8::1".
std::string AddressText(const SocketAddress& address);

}  // namespace tarnwick::tftp
