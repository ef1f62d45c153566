#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The platform's socket calls, behind one seam: POSIX sockets here, Winsock on Windows.
namespace net {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Starts the socket library once for the process; 1 on success, 0 on failure.
int StartSocketLibrary();
// Ends what StartSocketLibrary started, at the end of the process.
void StopSocketLibrary();

// One socket address of either family, as the resolver gives it.
struct PeerAddress {
    alignas(8) unsigned char bytes[128] = {};  // a sockaddr_in or sockaddr_in6
    int length = 0;
};

// The address a connected socket's peer has, as text ("192.0.2.1", "2001:db8::1"); empty when
// the system does not say.
std::string PeerAddressText(SocketHandle socket);

// Whether `host` is a complete IPv4 (dotted quad) or IPv6 address.
bool IsAddressLiteral(const char* host);
bool IsIPv6Literal(const char* host);
// Every address of `host` at `port`, IPv4 and IPv6, in the resolver's order. An address literal
// is used as it is, without a lookup; anything else (a name that begins with a digit included)
// goes to the resolver. Empty when it does not resolve.
std::vector<PeerAddress> Resolve(const char* host, int port);

// How an attempt to connect went.
enum class ConnectStart { kConnected, kPending, kFailed };
// Creates a non-blocking TCP socket of the address's family and starts connecting it to
// `peer`. On kPending the caller waits until the socket is writable and then calls
// FinishConnect. On kFailed no socket is left open and LastError() tells why.
ConnectStart StartConnect(const PeerAddress& peer, SocketHandle& socket);
// After the socket became writable: 0 when connected, else the error number of the failed
// attempt. The socket stays non-blocking either way.
int FinishConnect(SocketHandle socket);
// Makes a connected socket blocking or not; false on failure.
bool SetBlocking(SocketHandle socket, bool blocking);

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
// Shuts the connection down in both directions; the socket stays open. Any thread may do this
// while another waits on the socket: the wait ends.
void Shutdown(SocketHandle socket);

// The error number of the last failed socket call on this thread, and its text.
int LastError();
std::string ErrorText(int error);

}  // namespace net
