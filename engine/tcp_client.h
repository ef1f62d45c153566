#pragma once

#include "engine/socket_platform.h"

// One TCP connection. Timeouts are in seconds: -1 means no wait before the platform call (it
// blocks as long as the platform lets it); a positive value bounds each single wait; 0 or below
// -1 makes the wait, and so the operation, fail at once.
class CTcpClient {
  public:
    CTcpClient() = default;
    CTcpClient(const CTcpClient&) = delete;
    CTcpClient& operator=(const CTcpClient&) = delete;
    virtual ~CTcpClient();

    // Resolves the host and connects to the port; the attempt itself is not time-limited.
    int Connect(const char* host, int port);
    // 1 when all `length` bytes were accepted by one send, else 0.
    int Send(const char* data, int length, int timeout);
    // In: `length` is the capacity; out: the bytes received (0 means the peer closed).
    // 1 when the receive succeeded, 0 on a failed wait or a receive error.
    int Receive(char* buffer, int& length, int timeout);
    // 1 ready, 0 time-out, -1 error; -1 at once when seconds is 0 or less.
    int WaitWritable(int seconds);
    int WaitReadable(int seconds);
    void Close();

  private:
    // Applies the timeout rule before a send or receive; true when the call may go ahead.
    bool WaitBeforeCall(bool forWriting, int timeout);

    net::SocketHandle socket_ = net::kNoSocket;
};
