#pragma once

#include <cstddef>
#include <cstdint>

// The platform's socket calls, behind one seam: POSIX sockets here, Winsock on Windows.
struct sockaddr_in;

namespace net {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Starts the socket library once for the process; 1 on success, 0 on failure.
int StartSocketLibrary();

// Resolves `host` and connects a blocking IPv4 TCP socket to `port`. A host whose first
// character is a letter is looked up by name; any other host must be a dotted IPv4 address and
// is used as it is. Returns the connected socket, or kNoSocket (with no socket left open).
SocketHandle ConnectTcp(const char* host, int port);

// The IPv4 address and port of `host` (see ConnectTcp); false when it does not resolve.
bool ResolveIPv4(const char* host, int port, sockaddr_in& peer);

// Waits until the socket is writable (or readable) for at most `seconds`.
// Returns 1 ready, 0 time-out, -1 error.
int WaitReady(SocketHandle socket, bool forWriting, int seconds);

// One send of all bytes; returns the number the platform accepted, or -1 on error. Never raises
// a signal when the peer has gone.
long SendOnce(SocketHandle socket, const char* data, std::size_t length);

// One receive of at most `capacity` bytes; returns the number received (0: the peer closed), or
// -1 on error.
long ReceiveOnce(SocketHandle socket, char* buffer, std::size_t capacity);

// As ReceiveOnce, but returns kWouldBlock at once when no data is waiting.
inline constexpr long kWouldBlock = -2;
long ReceiveIfReady(SocketHandle socket, char* buffer, std::size_t capacity);

// Shuts the connection down in both directions and closes the socket.
void ShutdownAndClose(SocketHandle socket);

}  // namespace net
