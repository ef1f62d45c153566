#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

#include "engine/socket_platform.h"

namespace net {

int StartSocketLibrary() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        ::WSACleanup();
        return 0;
    }
    return 1;
}

SocketHandle ConnectTcp(const char* host, int port) {
    sockaddr_in peer{};
    if (!ResolveIPv4(host, port, peer)) {
        return kNoSocket;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        return kNoSocket;
    }
    if (::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    return static_cast<SocketHandle>(s);
}

int WaitReady(SocketHandle socket, bool forWriting, int seconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(socket), &set);
    timeval limit{seconds, 0};
    const int result = forWriting ? ::select(0, nullptr, &set, nullptr, &limit)
                                  : ::select(0, &set, nullptr, nullptr, &limit);
    return result > 0 ? 1 : result == 0 ? 0 : -1;
}

long SendOnce(SocketHandle socket, const char* data, std::size_t length) {
    const int capped = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    const int sent = ::send(static_cast<SOCKET>(socket), data, capped, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

long ReceiveOnce(SocketHandle socket, char* buffer, std::size_t capacity) {
    const int capped = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    const int received = ::recv(static_cast<SOCKET>(socket), buffer, capped, 0);
    return received == SOCKET_ERROR ? -1 : received;
}

long ReceiveIfReady(SocketHandle, char*, std::size_t) {
    return kWouldBlock;  // the caller then waits and receives as usual
}

void ShutdownAndClose(SocketHandle socket) {
    ::shutdown(static_cast<SOCKET>(socket), SD_BOTH);
    ::closesocket(static_cast<SOCKET>(socket));
}

}  // namespace net
