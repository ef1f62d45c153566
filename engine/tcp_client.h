#pragma once

#include <memory>
#include <string>

#include "engine/cut_off.h"
#include "engine/fetch_failure.h"
#include "engine/socket_platform.h"
#include "engine/tls_channel.h"
#include "engine/wait_limit.h"
#include "engine/wire_tape.h"

// One TCP connection, with TLS as an optional layer under the same Send and Receive. Timeouts
// are in seconds: -1 means no limit on a wait; a positive value bounds each single wait; 0 or
// below -1 makes the wait, and so the operation, fail at once. With a cut-off, no wait (the
// connection attempt and the handshake included) goes on past it, and no send or receive starts
// after it.
class CTcpClient {
  public:
    CTcpClient() = default;
    CTcpClient(const CTcpClient&) = delete;
    CTcpClient& operator=(const CTcpClient&) = delete;
    virtual ~CTcpClient();

    // The cut-off that every wait of this connection obeys; not owned, may be null, and must
    // outlive the connection.
    void SetCutOff(const CCutOff* cutOff);

    // Resolves the host (IPv4 and IPv6) and connects to the port, trying each address in turn.
    // An attempt with another address left after it is bounded by `limit`; the last one only
    // by the cut-off.
    int Connect(const char* host, int port, WaitLimit limit = WaitLimit::None());
    // Runs a TLS handshake for `host` (at `port`, which tells its sessions from another
    // server's) over the connection; from then on Send and Receive go through TLS. Each wait of
    // the handshake is bounded by `limit` and the cut-off.
    int StartTls(const std::string& host, int port, WaitLimit limit);
    // 1 when all `length` bytes were sent, else 0.
    int Send(const char* data, int length, WaitLimit limit);
    // In: `length` is the capacity; out: the bytes received (0 means the peer closed).
    // 1 when the receive succeeded, 0 on a failed wait or a receive error.
    int Receive(char* buffer, int& length, WaitLimit limit);
    // Whether a connection idle between two answers has nothing to read: no bytes that nobody
    // asked for, and not its end. Looks without waiting; records of the TLS session's own
    // (a new session ticket) are taken on the way.
    bool QuietWhileIdle();
    // Whether the last close seen over TLS came without the TLS close (a cut, not an end).
    bool ClosedWithoutTlsClose() const { return tlsCut_; }
    void Close();
    // Forgets the last exchange's failure, for the next exchange on the same connection.
    void BeginExchange() {
        failure_ = {};
        tlsCut_ = false;
    }

    // Why the last operation that failed did so.
    const FetchFailure& Failure() const { return failure_; }

    // From now on every byte sent and received goes onto `tape` as well (not owned; null: no
    // more), which learns the peer's address and the TLS session's protocol and cipher.
    void SetTape(WireTape* tape);

  protected:
    WireTape* Tape() const { return tape_; }
    int Fail(FetchError error, int detail = 0, std::string text = {});
    void SetRetryAfter(std::chrono::seconds wait) { failure_.retryAfter = wait; }
    void MarkChallenge() { failure_.challenge = true; }

  private:
    // Waits until the socket is ready within `limit` and the cut-off. With
    // neither, it returns at once when the call that follows blocks by itself, and otherwise (a
    // connection still being made, a non-blocking TLS socket) waits without end.
    bool AwaitReady(bool forWriting, WaitLimit limit, bool callBlocks = true);
    bool CutOffPassed();
    // One connection attempt to one address.
    bool ConnectTo(const net::PeerAddress& peer, WaitLimit limit);
    int SendToPeer(const char* data, int length, WaitLimit limit);
    int ReceiveFromPeer(char* buffer, int& length, WaitLimit limit);
    int TlsSend(const char* data, int length, WaitLimit limit);
    int TlsReceive(char* buffer, int& length, WaitLimit limit);
    // Waits for what a TLS step asked for; false (failure set) when the step failed or the wait
    // did.
    bool AwaitTls(CTlsChannel::Step step, WaitLimit limit);

    net::SocketHandle socket_ = net::kNoSocket;
    std::unique_ptr<CTlsChannel> tls_;
    bool tlsCut_ = false;
    const CCutOff* cutOff_ = nullptr;
    FetchFailure failure_;
    WireTape* tape_ = nullptr;
};
