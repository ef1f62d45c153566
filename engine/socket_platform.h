#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The platform's socket calls, behind one seam: POSIX sockets here, Winsock on Windows.
struct sockaddr_in;

namespace net {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Starts the socket library once for the process; 1 on success, 0 on failure.
int StartSocketLibrary();

// The IPv4 address and port of `host`: a complete dotted-quad address is used as it is (no
// lookup at all); any other host goes to the resolver. False when it does not resolve.
bool ResolveIPv4(const char* host, int port, sockaddr_in& peer);

// How an attempt to connect went.
enum class ConnectStart { kConnected, kPending, kFailed };
// Creates a non-blocking IPv4 TCP socket and starts connecting it to `peer`. On kPending the
// caller waits until the socket is writable and then calls FinishConnect. On kFailed no socket
// is left open and LastError() tells why.
ConnectStart StartConnect(const sockaddr_in& peer, SocketHandle& socket);
// After the socket became writable: 0 when connected (the socket is blocking again), else the
// error number of the failed attempt.
int FinishConnect(SocketHandle socket);

// Waits until the socket is writable (or readable) for at most `milliseconds`.
// Returns 1 ready, 0 time-out, -1 error.
int WaitReady(SocketHandle socket, bool forWriting, long long milliseconds);

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

// The error number of the last failed socket call on this thread, and its text.
int LastError();
std::string ErrorText(int error);

}  // namespace net
