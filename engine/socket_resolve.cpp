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

#include <cstring>

#include "engine/socket_platform.h"

namespace net {

bool IsIPv6Literal(const char* host) {
    in6_addr address{};
    return host != nullptr && ::inet_pton(AF_INET6, host, &address) == 1;
}

bool IsAddressLiteral(const char* host) {
    in_addr address{};
    return host != nullptr && (::inet_pton(AF_INET, host, &address) == 1 || IsIPv6Literal(host));
}

std::string PeerAddressText(SocketHandle socket) {
    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
#ifdef _WIN32
    const auto handle = static_cast<SOCKET>(socket);
#else
    const auto handle = static_cast<int>(socket);
#endif
    if (::getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return {};
    }
    if (peer.ss_family != AF_INET && peer.ss_family != AF_INET6) {
        return {};
    }
    char text[INET6_ADDRSTRLEN] = {};
    const void* address =
        peer.ss_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr)
            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr);
    return ::inet_ntop(peer.ss_family, address, text, sizeof(text)) != nullptr ? text : "";
}

std::vector<PeerAddress> Resolve(const char* host, int port) {
    std::vector<PeerAddress> peers;
    if (host == nullptr || *host == '\0') {
        return peers;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // A literal is used as it is: no lookup, and no reverse lookup that could fail.
    if (IsAddressLiteral(host)) {
        hints.ai_flags = AI_NUMERICHOST;
    }
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host, service.c_str(), &hints, &found) != 0) {
        return peers;
    }
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(PeerAddress::bytes)) {
            continue;
        }
        PeerAddress peer;
        std::memcpy(peer.bytes, entry->ai_addr, entry->ai_addrlen);
        peer.length = static_cast<int>(entry->ai_addrlen);
        peers.push_back(peer);
    }
    ::freeaddrinfo(found);
    return peers;
}

}  // namespace net
