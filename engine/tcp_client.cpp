#include "engine/tcp_client.h"

#include <algorithm>
#include <chrono>

namespace {
// A wait without a limit of its own still wakes this often to look at the cut-off, which may be
// armed, or moved nearer, at any time; a shorter look would wake every worker waiting on a slow
// site several times a document for nothing. A cut-off due now shuts the socket down, which
// wakes a POSIX wait at once; Windows' select may sleep through that, so there the look comes
// often enough to be the wake-up itself.
#ifdef _WIN32
constexpr long long kCutOffCheckMs = 100;
#else
constexpr long long kCutOffCheckMs = 1000;
#endif
}  // namespace

CTcpClient::~CTcpClient() {
    Close();
}

void CTcpClient::SetCutOff(const CCutOff* cutOff) {
    if (cutOff == cutOff_) {
        return;
    }
    if (socket_ != net::kNoSocket && cutOff_ != nullptr) {
        cutOff_->Forget(socket_);
    }
    cutOff_ = cutOff;
    if (socket_ != net::kNoSocket && cutOff_ != nullptr) {
        cutOff_->Watch(socket_);
    }
}

int CTcpClient::Fail(FetchError error, int detail, std::string text) {
    failure_ = {error, detail, std::move(text)};
    return 0;
}

bool CTcpClient::CutOffPassed() {
    if (cutOff_ != nullptr && cutOff_->Passed()) {
        Fail(FetchError::kCutOff);
        return true;
    }
    return false;
}

int CTcpClient::Connect(const char* host, int port, WaitLimit limit) {
    Close();
    const std::vector<net::PeerAddress> peers = net::Resolve(host, port);
    if (peers.empty()) {
        return Fail(FetchError::kNoSuchHost);
    }
    for (std::size_t i = 0; i < peers.size(); ++i) {
        // An address that swallows the attempt must not keep the others from being tried.
        const bool last = i + 1 == peers.size();
        if (ConnectTo(peers[i], last ? WaitLimit::None() : limit)) {
            return 1;
        }
        if (failure_.error == FetchError::kCutOff) {
            return 0;
        }
    }
    return 0;
}

bool CTcpClient::ConnectTo(const net::PeerAddress& peer, WaitLimit limit) {
    net::SocketHandle socket = net::kNoSocket;
    const net::ConnectStart start = net::StartConnect(peer, socket);
    if (start == net::ConnectStart::kFailed) {
        Fail(FetchError::kConnect, net::LastError());
        return false;
    }
    socket_ = socket;
    if (cutOff_ != nullptr) {
        cutOff_->Watch(socket_);
    }
    if (start == net::ConnectStart::kPending) {
        if (!AwaitReady(true, limit.FailsAtOnce() ? WaitLimit::None() : limit, false)) {
            Close();
            return false;
        }
        if (const int error = net::FinishConnect(socket_); error != 0) {
            Close();
            Fail(FetchError::kConnect, error);
            return false;
        }
    }
    // Plain connections block in their calls when nothing limits a wait; TLS drives its socket
    // without blocking.
    net::SetBlocking(socket_, true);
    return true;
}

int CTcpClient::StartTls(const std::string& host, int port, WaitLimit limit) {
    if (socket_ == net::kNoSocket) {
        return Fail(FetchError::kTls, 0, "no connection");
    }
    tls_ = CTlsChannel::Open(socket_, host, port, &failure_);
    if (!tls_ || !net::SetBlocking(socket_, false)) {
        tls_.reset();
        return 0;
    }
    for (;;) {
        if (CutOffPassed()) {
            return 0;
        }
        const CTlsChannel::Step step = tls_->Handshake();
        if (step == CTlsChannel::Step::kDone) {
            return 1;
        }
        if (!AwaitTls(step, limit)) {
            return 0;
        }
    }
}

bool CTcpClient::AwaitTls(CTlsChannel::Step step, WaitLimit limit) {
    switch (step) {
        case CTlsChannel::Step::kWantRead:
            return AwaitReady(false, limit, false);
        case CTlsChannel::Step::kWantWrite:
            return AwaitReady(true, limit, false);
        case CTlsChannel::Step::kFailed:
            Fail(FetchError::kTls, 0, tls_->Reason());
            return false;
        default:
            Fail(FetchError::kTls, 0, "unexpected end of the TLS session");
            return false;
    }
}

bool CTcpClient::AwaitReady(bool forWriting, WaitLimit limit, bool callBlocks) {
    if (limit.FailsAtOnce()) {
        Fail(FetchError::kTimeLimit);
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + (limit.IsBounded() ? limit.Length() : std::chrono::milliseconds(0));
    for (;;) {
        long long waitMs = -1;  // no limit
        if (limit.IsBounded()) {
            waitMs = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                       .count());
        }
        if (cutOff_ != nullptr) {
            const long long left = cutOff_->MillisecondsLeft();
            const long long check = left < 0 ? kCutOffCheckMs : std::min(left, kCutOffCheckMs);
            waitMs = waitMs < 0 ? check : std::min(waitMs, check);
        }
        if (waitMs < 0) {
            if (callBlocks) {
                return true;  // neither a limit nor a cut-off: the platform call itself blocks
            }
            waitMs = kCutOffCheckMs;
        }
        const int ready = net::WaitReady(socket_, forWriting, waitMs);
        // A cut-off that came due shut the connection down, which woke the wait.
        if (CutOffPassed()) {
            return false;
        }
        if (ready > 0) {
            return true;
        }
        if (ready < 0) {
            Fail(FetchError::kReceive, net::LastError());
            return false;
        }
        if (limit.IsBounded() && Clock::now() >= deadline) {
            Fail(FetchError::kTimeLimit);
            return false;
        }
    }
}

void CTcpClient::SetTape(WireTape* tape) {
    tape_ = tape;
    if (tape_ != nullptr && socket_ != net::kNoSocket) {
        tape_->peerAddress = net::PeerAddressText(socket_);
        tape_->tlsProtocol = tls_ ? tls_->ProtocolName() : std::string();
        tape_->tlsCipher = tls_ ? tls_->CipherSuite() : std::string();
    }
}

int CTcpClient::Send(const char* data, int length, WaitLimit limit) {
    const int sent = SendToPeer(data, length, limit);
    if (sent == 1 && tape_ != nullptr) {
        tape_->request.append(data, static_cast<std::size_t>(length));
    }
    return sent;
}

int CTcpClient::Receive(char* buffer, int& length, WaitLimit limit) {
    const int received = ReceiveFromPeer(buffer, length, limit);
    if (received == 1 && tape_ != nullptr &&
        !tape_->received.Append(buffer, static_cast<std::size_t>(length))) {
        // What cannot be archived is not taken: the fetch fails as a write would.
        return Fail(FetchError::kWriteError, tape_->received.Failure().SystemErrorNumber());
    }
    return received;
}

int CTcpClient::SendToPeer(const char* data, int length, WaitLimit limit) {
    if (socket_ == net::kNoSocket || length < 0) {
        return Fail(FetchError::kSend);
    }
    if (CutOffPassed()) {
        return 0;
    }
    if (tls_) {
        return TlsSend(data, length, limit);
    }
    if (!AwaitReady(true, limit)) {
        return 0;
    }
    if (net::SendOnce(socket_, data, static_cast<std::size_t>(length)) != length) {
        return CutOffPassed() ? 0 : Fail(FetchError::kSend, net::LastError());
    }
    return 1;
}

int CTcpClient::TlsSend(const char* data, int length, WaitLimit limit) {
    // The time limit is checked before the first write, as for a plain send, so that a limit
    // that fails every wait fails every https request too.
    if (limit.FailsAtOnce()) {
        return Fail(FetchError::kTimeLimit);
    }
    std::size_t sent = 0;
    while (sent < static_cast<std::size_t>(length)) {
        std::size_t written = 0;
        const CTlsChannel::Step step =
            tls_->Write(data + sent, static_cast<std::size_t>(length) - sent, written);
        sent += written;
        if (step == CTlsChannel::Step::kDone) {
            continue;
        }
        if (CutOffPassed() || !AwaitTls(step, limit)) {
            return 0;
        }
    }
    return 1;
}

int CTcpClient::ReceiveFromPeer(char* buffer, int& length, WaitLimit limit) {
    if (socket_ == net::kNoSocket || length < 0) {
        return Fail(FetchError::kReceive);
    }
    if (CutOffPassed()) {
        return 0;
    }
    if (tls_) {
        return TlsReceive(buffer, length, limit);
    }
    const auto capacity = static_cast<std::size_t>(length);
    // Data that is already waiting needs no wait: taking it at once spares a system call per block.
    long received =
        !limit.FailsAtOnce() ? net::ReceiveIfReady(socket_, buffer, capacity) : net::kWouldBlock;
    if (received == net::kWouldBlock) {
        if (!AwaitReady(false, limit)) {
            return 0;
        }
        received = net::ReceiveOnce(socket_, buffer, capacity);
    }
    // Nor is the end that a cut-off's shutdown makes.
    if (received <= 0 && CutOffPassed()) {
        return 0;
    }
    if (received < 0) {
        // An error is never the peer's close: the document would look whole when it is not.
        return Fail(FetchError::kReceive, net::LastError());
    }
    length = static_cast<int>(received);
    return 1;
}

int CTcpClient::TlsReceive(char* buffer, int& length, WaitLimit limit) {
    if (limit.FailsAtOnce()) {
        return Fail(FetchError::kTimeLimit);
    }
    const auto capacity = static_cast<std::size_t>(length);
    for (;;) {
        std::size_t read = 0;
        // Bytes the library has decrypted already never show as a readable socket.
        const CTlsChannel::Step step = tls_->Read(buffer, capacity, read);
        switch (step) {
            case CTlsChannel::Step::kDone:
                length = static_cast<int>(read);
                return 1;
            case CTlsChannel::Step::kClosed:
            case CTlsChannel::Step::kCut:
                if (CutOffPassed()) {
                    return 0;
                }
                tlsCut_ = step == CTlsChannel::Step::kCut;
                length = 0;
                return 1;
            default:
                if (CutOffPassed() || !AwaitTls(step, limit)) {
                    return 0;
                }
        }
    }
}

bool CTcpClient::QuietWhileIdle() {
    if (socket_ == net::kNoSocket) {
        return false;
    }
    // A few records of the session's own at most; more is no idle connection.
    for (int record = 0; record < 4; ++record) {
        if ((!tls_ || !tls_->HasPending()) && net::WaitReady(socket_, false, 0) == 0) {
            return true;
        }
        if (!tls_) {
            return false;  // bytes, or the end
        }
        char byte = 0;
        std::size_t read = 0;
        if (tls_->Read(&byte, 1, read) != CTlsChannel::Step::kWantRead) {
            return false;  // application bytes, the close, or a broken session
        }
    }
    return false;
}

void CTcpClient::Close() {
    tls_.reset();
    if (socket_ != net::kNoSocket) {
        if (cutOff_ != nullptr) {
            cutOff_->Forget(socket_);  // before its number is free for another connection
        }
        net::ShutdownAndClose(socket_);
        socket_ = net::kNoSocket;
    }
}
