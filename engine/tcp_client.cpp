#include "engine/tcp_client.h"

CTcpClient::~CTcpClient() {
    Close();
}

int CTcpClient::Connect(const char* host, int port) {
    Close();
    socket_ = net::ConnectTcp(host, port);
    return socket_ != net::kNoSocket ? 1 : 0;
}

bool CTcpClient::WaitBeforeCall(bool forWriting, int timeout) {
    if (timeout == -1) {
        return true;
    }
    return (forWriting ? WaitWritable(timeout) : WaitReadable(timeout)) == 1;
}

int CTcpClient::Send(const char* data, int length, int timeout) {
    if (socket_ == net::kNoSocket || length < 0 || !WaitBeforeCall(true, timeout)) {
        return 0;
    }
    return net::SendOnce(socket_, data, static_cast<std::size_t>(length)) == length ? 1 : 0;
}

int CTcpClient::Receive(char* buffer, int& length, int timeout) {
    if (socket_ == net::kNoSocket || length < 0) {
        return 0;
    }
    const auto capacity = static_cast<std::size_t>(length);
    // Data that is already waiting needs no wait: taking it at once spares a system call per block.
    long received = timeout > 0 ? net::ReceiveIfReady(socket_, buffer, capacity) : net::kWouldBlock;
    if (received == net::kWouldBlock) {
        if (!WaitBeforeCall(false, timeout)) {
            return 0;
        }
        received = net::ReceiveOnce(socket_, buffer, capacity);
    }
    if (received < 0) {
        return 0;
    }
    length = static_cast<int>(received);
    return 1;
}

int CTcpClient::WaitWritable(int seconds) {
    if (seconds <= 0 || socket_ == net::kNoSocket) {
        return -1;
    }
    return net::WaitReady(socket_, true, seconds);
}

int CTcpClient::WaitReadable(int seconds) {
    if (seconds <= 0 || socket_ == net::kNoSocket) {
        return -1;
    }
    return net::WaitReady(socket_, false, seconds);
}

void CTcpClient::Close() {
    if (socket_ != net::kNoSocket) {
        net::ShutdownAndClose(socket_);
        socket_ = net::kNoSocket;
    }
}
