// The POSIX operations behind UDP reception, shared with the system operations
// table of platform_posix.cc, and the errno translation both use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace virazav::platform::posix {

// errno → Winsock number: one line per case, an explicit default.
int wsa_from_errno(int e);

Socket real_udp_socket();
long real_recv_from(Socket s, void* data, size_t n, uint32_t* from);

}  // namespace virazav::platform::posix
