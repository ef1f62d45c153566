#include "engine/tcp_client.h"

#include <algorithm>
#include <chrono>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#endif

namespace {
// A wait without a limit of its own still wakes this often to look at the cut-off.
constexpr long long kCutOffCheckMs = 200;
}  // namespace

CTcpClient::~CTcpClient() {
    Close();
}

int CTcpClient::Fail(FetchError error, int detail) {
    failure_ = {error, detail};
    return 0;
}

bool CTcpClient::CutOffPassed() {
    if (cutOff_ != nullptr && cutOff_->Passed()) {
        Fail(FetchError::kCutOff);
        return true;
    }
    return false;
}

int CTcpClient::Connect(const char* host, int port) {
    Close();
    sockaddr_in peer{};
    if (!net::ResolveIPv4(host, port, peer)) {
        return Fail(FetchError::kNoSuchHost);
    }
    net::SocketHandle socket = net::kNoSocket;
    const net::ConnectStart start = net::StartConnect(peer, socket);
    if (start == net::ConnectStart::kFailed) {
        return Fail(FetchError::kConnect, net::LastError());
    }
    socket_ = socket;
    if (start == net::ConnectStart::kPending) {
        if (!AwaitReady(true, -1, false)) {
            Close();
            return 0;
        }
        if (const int error = net::FinishConnect(socket_); error != 0) {
            Close();
            return Fail(FetchError::kConnect, error);
        }
    }
    return 1;
}

bool CTcpClient::AwaitReady(bool forWriting, int timeout, bool callBlocks) {
    if (timeout == 0 || timeout < -1) {
        Fail(FetchError::kTimeLimit);
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout > 0 ? timeout : 0);
    for (;;) {
        long long waitMs = -1;  // no limit
        if (timeout > 0) {
            waitMs = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                       .count());
        }
        if (cutOff_ != nullptr) {
            const long long left = cutOff_->MillisecondsLeft();
            const long long check = left < 0 ? kCutOffCheckMs : left;
            waitMs = waitMs < 0 ? check : std::min(waitMs, check);
        }
        if (waitMs < 0) {
            if (callBlocks) {
                return true;  // neither a limit nor a cut-off: the platform call itself blocks
            }
            waitMs = kCutOffCheckMs;
        }
        const int ready = net::WaitReady(socket_, forWriting, waitMs);
        if (ready > 0) {
            return true;
        }
        if (ready < 0) {
            Fail(FetchError::kReceive, net::LastError());
            return false;
        }
        if (CutOffPassed()) {
            return false;
        }
        if (timeout > 0 && Clock::now() >= deadline) {
            Fail(FetchError::kTimeLimit);
            return false;
        }
    }
}

int CTcpClient::Send(const char* data, int length, int timeout) {
    if (socket_ == net::kNoSocket || length < 0) {
        return Fail(FetchError::kSend);
    }
    if (CutOffPassed() || !AwaitReady(true, timeout)) {
        return 0;
    }
    if (net::SendOnce(socket_, data, static_cast<std::size_t>(length)) != length) {
        return Fail(FetchError::kSend, net::LastError());
    }
    return 1;
}

int CTcpClient::Receive(char* buffer, int& length, int timeout) {
    if (socket_ == net::kNoSocket || length < 0) {
        return Fail(FetchError::kReceive);
    }
    if (CutOffPassed()) {
        return 0;
    }
    const auto capacity = static_cast<std::size_t>(length);
    // Data that is already waiting needs no wait: taking it at once spares a system call per block.
    long received = timeout == -1 || timeout > 0 ? net::ReceiveIfReady(socket_, buffer, capacity)
                                                 : net::kWouldBlock;
    if (received == net::kWouldBlock) {
        if (!AwaitReady(false, timeout)) {
            return 0;
        }
        received = net::ReceiveOnce(socket_, buffer, capacity);
    }
    if (received < 0) {
        // An error is never the peer's close: the document would look whole when it is not.
        return Fail(FetchError::kReceive, net::LastError());
    }
    length = static_cast<int>(received);
    return 1;
}

int CTcpClient::WaitWritable(int seconds) {
    if (seconds <= 0 || socket_ == net::kNoSocket) {
        return -1;
    }
    return net::WaitReady(socket_, true, seconds * 1000LL);
}

int CTcpClient::WaitReadable(int seconds) {
    if (seconds <= 0 || socket_ == net::kNoSocket) {
        return -1;
    }
    return net::WaitReady(socket_, false, seconds * 1000LL);
}

void CTcpClient::Close() {
    if (socket_ != net::kNoSocket) {
        net::ShutdownAndClose(socket_);
        socket_ = net::kNoSocket;
    }
}
