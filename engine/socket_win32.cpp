#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <string>

#include "engine/socket_platform.h"

namespace net {

bool SetBlocking(SocketHandle socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(static_cast<SOCKET>(socket), FIONBIO, &nonBlocking) == 0;
}

int StartSocketLibrary() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        ::WSACleanup();
        return 0;
    }
    return 1;
}

void StopSocketLibrary() {
    ::WSACleanup();
}

ConnectStart StartConnect(const PeerAddress& peer, SocketHandle& socket) {
    const auto* address = reinterpret_cast<const sockaddr*>(peer.bytes);
    const SOCKET s = ::socket(address->sa_family, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        return ConnectStart::kFailed;
    }
    if (!SetBlocking(static_cast<SocketHandle>(s), false)) {
        ::closesocket(s);
        return ConnectStart::kFailed;
    }
    if (::connect(s, address, peer.length) == 0) {
        socket = static_cast<SocketHandle>(s);
        return ConnectStart::kConnected;
    }
    if (::WSAGetLastError() == WSAEWOULDBLOCK) {
        socket = static_cast<SocketHandle>(s);
        return ConnectStart::kPending;
    }
    const int error = ::WSAGetLastError();
    ::closesocket(s);
    ::WSASetLastError(error);
    return ConnectStart::kFailed;
}

int FinishConnect(SocketHandle socket) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_ERROR,
                     reinterpret_cast<char*>(&error), &length) != 0) {
        return ::WSAGetLastError();
    }
    return error;
}

int WaitReady(SocketHandle socket, bool forWriting, long long milliseconds) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(static_cast<SOCKET>(socket), &ready);
    FD_SET(static_cast<SOCKET>(socket), &failed);
    if (milliseconds < 0) {
        milliseconds = 0;
    }
    timeval limit{static_cast<long>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000};
    // A connection attempt that failed shows in the exception set, not as writable.
    const int result = forWriting ? ::select(0, nullptr, &ready, &failed, &limit)
                                  : ::select(0, &ready, nullptr, nullptr, &limit);
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

void Shutdown(SocketHandle socket) {
    ::shutdown(static_cast<SOCKET>(socket), SD_BOTH);
}

void ShutdownAndClose(SocketHandle socket) {
    ::shutdown(static_cast<SOCKET>(socket), SD_BOTH);
    ::closesocket(static_cast<SOCKET>(socket));
}

int LastError() {
    return ::WSAGetLastError();
}

std::string ErrorText(int error) {
    return "Winsock error " + std::to_string(error);
}

}  // namespace net
