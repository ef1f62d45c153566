#pragma once

#include "engine/cut_off.h"
#include "engine/fetch_failure.h"
#include "engine/socket_platform.h"

// One TCP connection. Timeouts are in seconds: -1 means no limit on a wait; a positive value
// bounds each single wait; 0 or below -1 makes the wait, and so the operation, fail at once.
// With a cut-off, no wait (the connection attempt included) goes on past it, and no send or
// receive starts after it.
class CTcpClient {
  public:
    CTcpClient() = default;
    CTcpClient(const CTcpClient&) = delete;
    CTcpClient& operator=(const CTcpClient&) = delete;
    virtual ~CTcpClient();

    // The cut-off that every wait of this connection obeys; not owned, may be null.
    void SetCutOff(const CCutOff* cutOff) { cutOff_ = cutOff; }

    // Resolves the host and connects to the port; the attempt is limited only by the cut-off.
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

    // Why the last operation that failed did so.
    const FetchFailure& Failure() const { return failure_; }

  protected:
    int Fail(FetchError error, int detail = 0);

  private:
    // Waits until the socket is ready within `timeout` (-1: no limit) and the cut-off. With
    // neither, it returns at once when the call that follows blocks by itself, and otherwise (a
    // connection still being made) waits without end.
    bool AwaitReady(bool forWriting, int timeout, bool callBlocks = true);
    bool CutOffPassed();

    net::SocketHandle socket_ = net::kNoSocket;
    const CCutOff* cutOff_ = nullptr;
    FetchFailure failure_;
};
