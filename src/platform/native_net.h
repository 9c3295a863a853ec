// Native socket declarations shared by the platform layer's own socket files.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <optional>

#include "platform/net.h"

namespace nerova::platform::native {

#ifdef _WIN32
using SockLen = int;
#else
using SockLen = socklen_t;
#endif

SockLen to_sockaddr(const SocketAddress& address, sockaddr_storage& storage);
std::optional<SocketAddress> from_sockaddr(const sockaddr* sa);
int family_of(Family family);

}  // namespace nerova::platform::native
