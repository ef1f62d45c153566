// Name resolution is the same on both socket interfaces; only the headers differ.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "engine/socket_platform.h"

namespace net {

bool ResolveIPv4(const char* host, int port, sockaddr_in& peer) {
    peer = sockaddr_in{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<unsigned short>(port));
    if (host == nullptr || *host == '\0') {
        return false;
    }
    // A dotted quad is used as it is: no lookup, and no reverse lookup that could fail. Anything
    // else, a name that begins with a digit included, is the resolver's.
    if (::inet_pton(AF_INET, host, &peer.sin_addr) == 1) {
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    peer.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

}  // namespace net
