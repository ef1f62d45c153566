#pragma once

// The few socket calls of the loopback test server, on POSIX and on Winsock.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstddef>
#include <cstdint>

namespace server_socket {

#ifdef _WIN32
using Handle = SOCKET;
inline const Handle kNone = INVALID_SOCKET;
inline void Close(Handle s) {
    ::closesocket(s);
}
inline int Poll(Handle s, short events, int milliseconds) {
    WSAPOLLFD entry{s, events, 0};
    return ::WSAPoll(&entry, 1, milliseconds);
}
inline void MakeNonBlocking(Handle s) {
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
}
inline bool WouldBlock() {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}
inline long Send(Handle s, const char* data, std::size_t length) {
    return ::send(s, data, static_cast<int>(length), 0);
}
inline long Receive(Handle s, char* buffer, std::size_t capacity) {
    return ::recv(s, buffer, static_cast<int>(capacity), 0);
}
#else
using Handle = int;
inline const Handle kNone = -1;
inline void Close(Handle s) {
    ::close(s);
}
inline int Poll(Handle s, short events, int milliseconds) {
    pollfd entry{s, events, 0};
    return ::poll(&entry, 1, milliseconds);
}
inline void MakeNonBlocking(Handle s) {
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
}
inline bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
inline long Send(Handle s, const char* data, std::size_t length) {
    return ::send(s, data, length, MSG_NOSIGNAL);
}
inline long Receive(Handle s, char* buffer, std::size_t capacity) {
    return ::recv(s, buffer, capacity, 0);
}
#endif

// Each send goes out at once, not held back until the client acknowledges the last one: a step
// of a script then reaches the client when it is played.
inline void SendAtOnce(Handle s) {
    int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Closing with a zero linger time resets the connection instead of closing it.
inline void ResetOnClose(Handle s) {
    linger abort{};
    abort.l_onoff = 1;
    abort.l_linger = 0;
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
}

}  // namespace server_socket
