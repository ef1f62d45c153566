#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "engine/socket_platform.h"

namespace net {

bool SetBlocking(SocketHandle socket, bool blocking) {
    const int fd = static_cast<int>(socket);
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 &&
           ::fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

int StartSocketLibrary() {
    return 1;
}

void StopSocketLibrary() {}

ConnectStart StartConnect(const PeerAddress& peer, SocketHandle& socket) {
    const auto* address = reinterpret_cast<const sockaddr*>(peer.bytes);
    const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return ConnectStart::kFailed;
    }
    if (::connect(fd, address, static_cast<socklen_t>(peer.length)) == 0) {
        socket = fd;
        return ConnectStart::kConnected;
    }
    if (errno == EINPROGRESS || errno == EINTR) {
        socket = fd;
        return ConnectStart::kPending;
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return ConnectStart::kFailed;
}

int FinishConnect(SocketHandle socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

int WaitReady(SocketHandle socket, bool forWriting, long long milliseconds) {
    pollfd entry{};
    entry.fd = static_cast<int>(socket);
    entry.events = forWriting ? POLLOUT : POLLIN;
    const int waitMs = milliseconds <= 0        ? 0
                       : milliseconds > INT_MAX ? INT_MAX
                                                : static_cast<int>(milliseconds);
    const int result = ::poll(&entry, 1, waitMs);
    if (result > 0) {
        return 1;
    }
    // An interrupted wait counts as a short one: the caller's loop waits again.
    return result == 0 || errno == EINTR ? 0 : -1;
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

void Shutdown(SocketHandle socket) {
    ::shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void ShutdownAndClose(SocketHandle socket) {
    ::shutdown(static_cast<int>(socket), SHUT_RDWR);
    ::close(static_cast<int>(socket));
}

int LastError() {
    return errno;
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

}  // namespace net
