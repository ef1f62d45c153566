#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "engine/socket_platform.h"

namespace net {

int StartSocketLibrary() {
    return 1;
}

SocketHandle ConnectTcp(const char* host, int port) {
    sockaddr_in peer{};
    if (!ResolveIPv4(host, port, peer)) {
        return kNoSocket;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return kNoSocket;
    }
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return kNoSocket;
    }
    return fd;
}

int WaitReady(SocketHandle socket, bool forWriting, int seconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    pollfd entry{};
    entry.fd = static_cast<int>(socket);
    entry.events = forWriting ? POLLOUT : POLLIN;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int waitMs = left.count() <= 0        ? 0
                           : left.count() > INT_MAX ? INT_MAX
                                                    : static_cast<int>(left.count());
        const int result = ::poll(&entry, 1, waitMs);
        if (result > 0) {
            return 1;
        }
        if (result == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

long SendOnce(SocketHandle socket, const char* data, std::size_t length) {
    ssize_t sent;
    do {
        sent = ::send(static_cast<int>(socket), data, length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

long ReceiveOnce(SocketHandle socket, char* buffer, std::size_t capacity) {
    ssize_t received;
    do {
        received = ::recv(static_cast<int>(socket), buffer, capacity, 0);
    } while (received < 0 && errno == EINTR);
    return static_cast<long>(received);
}

long ReceiveIfReady(SocketHandle socket, char* buffer, std::size_t capacity) {
    ssize_t received;
    do {
        received = ::recv(static_cast<int>(socket), buffer, capacity, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return kWouldBlock;
    }
    return static_cast<long>(received);
}

void ShutdownAndClose(SocketHandle socket) {
    ::shutdown(static_cast<int>(socket), SHUT_RDWR);
    ::close(static_cast<int>(socket));
}

}  // namespace net
